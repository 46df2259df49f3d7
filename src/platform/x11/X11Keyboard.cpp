#include "platform/x11/X11Keyboard.h"

#include "platform/x11/X11Display.h"

#include <QCoreApplication>
#include <QHash>
#include <QThread>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

const QString noServer = QStringLiteral("连不上 X 服务器，没打字");
const QString noXTest = QStringLiteral("X 服务器不支持模拟按键（XTest），没打字");
const QString stuckModifiers = QStringLiteral("修饰键一直按着，没打字（松开后再按一次热键）");
const QString controlCharacter = QStringLiteral("路径里有控制字符，没打字");
const QString noSpareKey = QStringLiteral("键盘映射里没有空闲键位，打不出这些字");
const QString noChordKeys = QStringLiteral("键盘映射里没有 Ctrl 或 Shift，没法粘贴");
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

    // After we changed a key: both levels of the first group hold the symbol.
    void set(int code, KeySym sym)
    {
        if (code < minCode || code > maxCode || syms.empty())
            return;
        for (int column = 0; column < perCode; ++column)
            syms[size_t((code - minCode) * perCode + column)] = column < 2 ? sym : NoSymbol;
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
    // Keys still lent from an earlier call are not part of the layout: they may be re-borrowed any moment.
    QHash<KeySym, Stroke> layoutStrokes(bool withShift, const std::vector<KeyCode>& lent) const
    {
        QHash<KeySym, Stroke> strokes;
        const auto isLent = [&](int code) { return std::find(lent.begin(), lent.end(), code) != lent.end(); };
        for (int level = 0; level < (withShift ? 2 : 1); ++level)
            for (int code = minCode; code <= maxCode; ++code)
                if (const KeySym sym = at(code, level); sym != NoSymbol && !strokes.contains(sym) && !isLent(code))
                    strokes.insert(sym, {KeyCode(code), level == 1});
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

// Sets keys to a symbol each (both levels), one request per run of adjacent keycodes: every request makes
// each program re-read the mapping.
void mapKeys(Display* display, const std::map<KeyCode, KeySym>& symbols)
{
    for (auto it = symbols.begin(); it != symbols.end();) {
        std::vector<KeySym> syms;
        const KeyCode first = it->first;
        KeyCode next = first;
        while (it != symbols.end() && it->first == next) {
            syms.push_back(it->second);
            syms.push_back(it->second);
            ++it;
            ++next;
        }
        XChangeKeyboardMapping(display, first, 2, syms.data(), int(next - first));
    }
}

// Types text batch by batch. Characters the layout lacks borrow spare keys; consecutive batches use
// different halves of the spare keys.
class Typist {
public:
    Typist(Display* display, int reuseMs, const std::vector<KeyCode>& lent, Clock::time_point lentUse)
        : display(display), map(display), reuseMs(reuseMs)
    {
        lastUse[0] = lastUse[1] = lentUse;
        std::vector<KeyCode> spares = map.spareCodes();
        spares.insert(spares.end(), lent.begin(), lent.end());
        std::sort(spares.begin(), spares.end());
        spares.erase(std::unique(spares.begin(), spares.end()), spares.end());
        const size_t half = (spares.size() + 1) / 2;
        halves[0].assign(spares.begin(), spares.begin() + qsizetype(half));
        halves[1].assign(spares.begin() + qsizetype(half), spares.end());
        const auto shiftCode = map.codeOf(XK_Shift_L);
        shift = shiftCode.value_or(0);
        // Another group active (a second layout): its keys differ from the first group's, so borrow keys for all.
        if (firstGroupActive(display))
            layout = map.layoutStrokes(shiftCode.has_value(), lent);
    }

    // False when the character needs a spare key and there is none.
    bool add(KeySym sym)
    {
        if (const auto it = layout.constFind(sym); it != layout.constEnd()) {
            batch.push_back(*it);
            return true;
        }
        if (!borrowed.contains(sym)) {
            if (halves[0].empty())
                return false;
            if (size_t(borrowed.size()) == halves[half].size()) {
                flush();
                if (!halves[1].empty())
                    half ^= 1;
            }
            const KeyCode code = halves[half][size_t(borrowed.size())];
            borrowed.insert(sym, code);
            touched.push_back(code);
        }
        batch.push_back({borrowed.value(sym), false});
        return true;
    }

    void flush()
    {
        // Keys still holding their symbol from the last typing are left alone: nothing for programs to re-read.
        std::map<KeyCode, KeySym> symbols;
        for (auto it = borrowed.constBegin(); it != borrowed.constEnd(); ++it)
            if (map.at(it.value(), 0) != it.key())
                symbols[it.value()] = it.key();
        if (!symbols.empty())
            waitUntilReusable();
        mapKeys(display, symbols);
        for (const auto& [code, sym] : symbols)
            map.set(code, sym);
        for (const Stroke& stroke : batch)
            press(display, stroke, shift);
        XSync(display, False);
        if (!borrowed.isEmpty())
            lastUse[half] = Clock::now();
        batch.clear();
        borrowed.clear();
    }

    // Ctrl+Shift+<sym>, on a borrowed key when the layout lacks it.
    void pressChord(KeyCode control, KeyCode shiftKey, KeySym sym, KeySym shifted)
    {
        KeyCode code = layout.contains(sym) && !layout.value(sym).shift ? layout.value(sym).code : 0;
        if (!code && !halves[0].empty()) {
            half = 0;
            waitUntilReusable();
            code = halves[0].front();
            KeySym pair[2] = {sym, shifted};
            XChangeKeyboardMapping(display, code, 2, pair, 1);
            touched.push_back(code);
        }
        XTestFakeKeyEvent(display, control, True, CurrentTime);
        XTestFakeKeyEvent(display, shiftKey, True, CurrentTime);
        XTestFakeKeyEvent(display, code, True, CurrentTime);
        XTestFakeKeyEvent(display, code, False, CurrentTime);
        XTestFakeKeyEvent(display, shiftKey, False, CurrentTime);
        XTestFakeKeyEvent(display, control, False, CurrentTime);
        XSync(display, False);
    }

    const KeyMap& keyMap() const { return map; }
    const std::vector<KeyCode>& borrowedKeys() const { return touched; }
    Clock::time_point lastBorrowedUse() const { return std::max(lastUse[0], lastUse[1]); }

private:
    // Programs read a changed mapping when they get round to it, and slow ones can be a batch behind:
    // a key is given a new symbol only once its last batch had time to be read.
    void waitUntilReusable() const
    {
        const auto ready = lastUse[half] + std::chrono::milliseconds(reuseMs);
        const auto now = Clock::now();
        if (ready > now)
            QThread::usleep(quint64(std::chrono::duration_cast<std::chrono::microseconds>(ready - now).count()));
    }

    Display* display;
    KeyMap map;
    int reuseMs;
    Clock::time_point lastUse[2];
    KeyCode shift = 0;
    QHash<KeySym, Stroke> layout;
    std::vector<KeyCode> halves[2];
    int half = 0;
    QHash<KeySym, KeyCode> borrowed; // in the current batch
    std::vector<KeyCode> touched;    // every key borrowed so far
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

X11Keyboard::X11Keyboard(int reuseMs) : reuseMs(reuseMs)
{
    restoreTimer.setSingleShot(true);
    restoreTimer.setInterval(restoreDelayMs);
    QObject::connect(&restoreTimer, &QTimer::timeout, [this] { giveBack(); });
}

X11Keyboard::~X11Keyboard() { giveBack(); }

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
    Typist typist(display, reuseMs, lent, lentUse);
    bool complete = true;
    for (const char32_t c : characters)
        if (!(complete = typist.add(keysymFor(c))))
            break;
    if (complete)
        typist.flush();
    lentUse = typist.lastBorrowedUse();
    lend(typist.borrowedKeys());
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
    Typist typist(display, reuseMs, lent, lentUse);
    const auto control = typist.keyMap().codeOf(XK_Control_L);
    const auto shift = typist.keyMap().codeOf(XK_Shift_L);
    if (!control || !shift)
        return failure(noChordKeys);
    typist.pressChord(*control, *shift, XK_v, XK_V);
    lend(typist.borrowedKeys());
    if (trap.failed())
        return failure(serverError);
    return {};
}

// Borrowed keys go back a while later, when every program has long read what it typed.
void X11Keyboard::lend(const std::vector<unsigned char>& keys)
{
    for (const KeyCode code : keys)
        if (std::find(lent.begin(), lent.end(), code) == lent.end())
            lent.push_back(code);
    if (lent.empty())
        return;
    if (QCoreApplication::instance())
        QMetaObject::invokeMethod(&restoreTimer, [this] { restoreTimer.start(); }, Qt::QueuedConnection);
    else {
        QThread::msleep(restoreDelayMs);
        giveBack();
    }
}

void X11Keyboard::giveBack()
{
    Display* display = X11Display::get();
    if (lent.empty() || !display)
        return;
    X11Display::ErrorTrap trap(display);
    std::map<KeyCode, KeySym> none;
    for (const KeyCode code : lent)
        none[code] = NoSymbol;
    mapKeys(display, none);
    XSync(display, False);
    lent.clear();
}
