#include "platform/x11/X11Keyboard.h"

#include "platform/x11/X11Display.h"

#include <QHash>
#include <QThread>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <vector>

namespace {
const QString noServer = QStringLiteral("连不上 X 服务器，没打字");
const QString noXTest = QStringLiteral("X 服务器不支持模拟按键（XTest），没打字");
const QString stuckModifiers = QStringLiteral("修饰键一直按着，没打字（松开后再按一次热键）");
const QString controlCharacter = QStringLiteral("路径里有控制字符，没打字");
const QString noSpareKey = QStringLiteral("键盘映射里没有空闲键位，打不出这些字");
const QString serverError = QStringLiteral("打字时 X 服务器报错，可能没打全");

Keyboard::Result failure(const QString& message) { return {false, message}; }

struct Stroke {
    KeyCode code = 0;
    bool shift = false;
};

// The core keyboard mapping: keysyms per keycode, group 1 in the first two columns.
class KeyMap {
public:
    explicit KeyMap(Display* display)
    {
        XDisplayKeycodes(display, &minCode, &maxCode);
        KeySym* all = XGetKeyboardMapping(display, KeyCode(minCode), maxCode - minCode + 1, &perCode);
        if (all) {
            syms.assign(all, all + (maxCode - minCode + 1) * perCode);
            XFree(all);
        }
    }

    KeySym at(int code, int column) const
    {
        if (code < minCode || code > maxCode || column >= perCode || syms.empty())
            return NoSymbol;
        return syms[size_t((code - minCode) * perCode + column)];
    }

    std::optional<KeyCode> codeOf(KeySym sym) const
    {
        for (int code = minCode; code <= maxCode; ++code)
            if (at(code, 0) == sym)
                return KeyCode(code);
        return std::nullopt;
    }

    // Keys with no symbol at all: free to borrow for a moment.
    std::vector<KeyCode> spareCodes() const
    {
        std::vector<KeyCode> spare;
        for (int code = minCode; code <= maxCode; ++code) {
            bool empty = true;
            for (int column = 0; column < perCode && empty; ++column)
                empty = at(code, column) == NoSymbol;
            if (empty)
                spare.push_back(KeyCode(code));
        }
        return spare;
    }

    // What each keysym of the first group needs: its key, with Shift for the second level.
    QHash<KeySym, Stroke> layoutStrokes(bool withShift) const
    {
        QHash<KeySym, Stroke> strokes;
        for (int code = minCode; code <= maxCode; ++code)
            if (const KeySym sym = at(code, 0); sym != NoSymbol && !strokes.contains(sym))
                strokes.insert(sym, {KeyCode(code), false});
        if (withShift)
            for (int code = minCode; code <= maxCode; ++code)
                if (const KeySym sym = at(code, 1); sym != NoSymbol && !strokes.contains(sym))
                    strokes.insert(sym, {KeyCode(code), true});
        return strokes;
    }

private:
    int minCode = 8, maxCode = 255, perCode = 0;
    std::vector<KeySym> syms;
};

KeySym keysymFor(char32_t c)
{
    if ((c >= 0x20 && c <= 0x7e) || (c >= 0xa0 && c <= 0xff))
        return KeySym(c);
    return KeySym(0x01000000 | c);
}

bool isControl(char32_t c) { return c < 0x20 || (c >= 0x7f && c < 0xa0); }

std::vector<KeyCode> modifierCodes(Display* display)
{
    std::vector<KeyCode> codes;
    XModifierKeymap* map = XGetModifierMapping(display);
    if (!map)
        return codes;
    for (int row = 0; row < 8; ++row) {
        if (row == LockMapIndex)
            continue;
        for (int i = 0; i < map->max_keypermod; ++i)
            if (const KeyCode code = map->modifiermap[row * map->max_keypermod + i])
                codes.push_back(code);
    }
    XFreeModifiermap(map);
    return codes;
}

bool isDown(const char keys[32], KeyCode code) { return keys[code / 8] & (1 << (code % 8)); }

// Lets go of modifier keys still down (the hot key's ⌥⌘), which would otherwise turn letters into shortcuts.
bool releaseModifiers(Display* display)
{
    const auto codes = modifierCodes(display);
    char keys[32];
    XQueryKeymap(display, keys);
    bool released = false;
    for (const KeyCode code : codes)
        if (isDown(keys, code)) {
            XTestFakeKeyEvent(display, code, False, CurrentTime);
            released = true;
        }
    if (!released)
        return true;
    XSync(display, False);
    XQueryKeymap(display, keys);
    for (const KeyCode code : codes)
        if (isDown(keys, code))
            return false;
    return true;
}

bool firstGroupActive(Display* display)
{
    XkbStateRec state{};
    if (XkbGetState(display, XkbUseCoreKbd, &state) != Success)
        return true;
    return state.group == 0;
}

void press(Display* display, const Stroke& stroke, KeyCode shift)
{
    if (stroke.shift)
        XTestFakeKeyEvent(display, shift, True, CurrentTime);
    XTestFakeKeyEvent(display, stroke.code, True, CurrentTime);
    XTestFakeKeyEvent(display, stroke.code, False, CurrentTime);
    if (stroke.shift)
        XTestFakeKeyEvent(display, shift, False, CurrentTime);
}

void mapKey(Display* display, KeyCode code, KeySym lower, KeySym upper)
{
    KeySym pair[2] = {lower, upper};
    XChangeKeyboardMapping(display, code, 2, pair, 1);
}

// Types strokes batch by batch; characters the layout lacks borrow spare keys, restored when done.
class Typist {
public:
    Typist(Display* display, int pauseMs) : display(display), map(display), pauseMs(pauseMs)
    {
        spares = map.spareCodes();
        const auto shiftCode = map.codeOf(XK_Shift_L);
        shift = shiftCode.value_or(0);
        // Another group active (a second layout): its keys differ from the first group's, so borrow keys for all.
        if (firstGroupActive(display))
            layout = map.layoutStrokes(shiftCode.has_value());
    }

    bool add(KeySym sym)
    {
        if (const auto it = layout.constFind(sym); it != layout.constEnd()) {
            batch.push_back(*it);
            return true;
        }
        if (!borrowed.contains(sym)) {
            if (spares.empty())
                return false;
            if (borrowed.size() == qsizetype(spares.size()))
                flush();
            borrowed.insert(sym, spares[size_t(borrowed.size())]);
            used = std::max(used, size_t(borrowed.size()));
        }
        batch.push_back({borrowed.value(sym), false});
        return true;
    }

    void flush()
    {
        const bool remapped = !borrowed.isEmpty();
        if (remapped) {
            mapBorrowed();
            // Programs fetch the new mapping when they see it change: let them, before the keys come.
            pause();
        }
        for (const Stroke& stroke : batch)
            press(display, stroke, shift);
        XSync(display, False);
        // Some look the mapping up only when they handle a key: keep it until they have.
        if (remapped)
            pause();
        batch.clear();
        borrowed.clear();
    }

    void restore()
    {
        borrowed.clear();
        mapRuns(used);
        XSync(display, False);
        used = 0;
    }

    void pressChord(const std::vector<KeyCode>& modifiers, KeySym sym, KeySym shifted)
    {
        KeyCode code = layout.contains(sym) && !layout.value(sym).shift ? layout.value(sym).code : 0;
        if (!code && !spares.empty()) {
            code = spares.front();
            mapKey(display, code, sym, shifted);
            used = 1;
        }
        for (const KeyCode modifier : modifiers)
            XTestFakeKeyEvent(display, modifier, True, CurrentTime);
        XTestFakeKeyEvent(display, code, True, CurrentTime);
        XTestFakeKeyEvent(display, code, False, CurrentTime);
        for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
            XTestFakeKeyEvent(display, *it, False, CurrentTime);
        XSync(display, False);
        if (used)
            pause();
    }

    const KeyMap& keyMap() const { return map; }

private:
    void pause() const { QThread::msleep(pauseMs); }

    void mapBorrowed() { mapRuns(size_t(borrowed.size())); }

    // Sets the first `count` spare keys to their borrowed symbol (none when not borrowed), one request per
    // run of adjacent keycodes: every request makes each program re-read the mapping.
    void mapRuns(size_t count)
    {
        QHash<KeyCode, KeySym> symbolOf;
        for (auto it = borrowed.constBegin(); it != borrowed.constEnd(); ++it)
            symbolOf.insert(it.value(), it.key());
        for (size_t start = 0; start < count;) {
            size_t end = start + 1;
            while (end < count && spares[end] == spares[end - 1] + 1)
                ++end;
            std::vector<KeySym> syms;
            for (size_t i = start; i < end; ++i) {
                const KeySym sym = symbolOf.value(spares[i], NoSymbol);
                syms.push_back(sym);
                syms.push_back(sym);
            }
            XChangeKeyboardMapping(display, spares[start], 2, syms.data(), int(end - start));
            start = end;
        }
    }

    Display* display;
    KeyMap map;
    int pauseMs;
    KeyCode shift = 0;
    QHash<KeySym, Stroke> layout;
    std::vector<KeyCode> spares;
    QHash<KeySym, KeyCode> borrowed;
    size_t used = 0;
    std::vector<Stroke> batch;
};

std::optional<Keyboard::Result> unusable(Display* display)
{
    if (!display)
        return failure(noServer);
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor))
        return failure(noXTest);
    return std::nullopt;
}
}

X11Keyboard::X11Keyboard(int pauseMs) : pauseMs(pauseMs) {}

bool X11Keyboard::keysHeld()
{
    Display* display = X11Display::get();
    if (!display)
        return false;
    const KeyMap map(display);
    char keys[32];
    XQueryKeymap(display, keys);
    for (int code = 8; code < 256; ++code) {
        if (!isDown(keys, KeyCode(code)))
            continue;
        const KeySym sym = map.at(code, 0);
        if (sym != XK_Caps_Lock && sym != XK_Num_Lock && sym != XK_Scroll_Lock && sym != XK_Shift_Lock)
            return true;
    }
    return false;
}

Keyboard::Result X11Keyboard::type(const QString& text)
{
    Display* display = X11Display::get();
    if (const auto failed = unusable(display))
        return *failed;
    const auto characters = text.toUcs4();
    for (const char32_t c : characters)
        if (isControl(c))
            return failure(controlCharacter);
    if (!releaseModifiers(display))
        return failure(stuckModifiers);

    X11Display::ErrorTrap trap(display);
    Typist typist(display, pauseMs);
    bool complete = true;
    for (const char32_t c : characters)
        if (!(complete = typist.add(keysymFor(c))))
            break;
    if (complete)
        typist.flush();
    typist.restore();
    if (!complete)
        return failure(noSpareKey);
    if (trap.failed())
        return failure(serverError);
    return {};
}

Keyboard::Result X11Keyboard::sendPasteKey()
{
    Display* display = X11Display::get();
    if (const auto failed = unusable(display))
        return *failed;
    if (!releaseModifiers(display))
        return failure(stuckModifiers);
    X11Display::ErrorTrap trap(display);
    Typist typist(display, pauseMs);
    const auto control = typist.keyMap().codeOf(XK_Control_L);
    const auto shift = typist.keyMap().codeOf(XK_Shift_L);
    if (!control || !shift)
        return failure(noSpareKey);
    typist.pressChord({*control, *shift}, XK_v, XK_V);
    typist.restore();
    if (trap.failed())
        return failure(serverError);
    return {};
}
