#include "platform/x11/X11Keyboard.h"

#include "platform/x11/X11Display.h"

#include <QHash>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <map>
#include <vector>

namespace {
const QString noServer = QStringLiteral("连不上 X 服务器，没打字");
const QString noXTest = QStringLiteral("X 服务器不支持模拟按键（XTest），没打字");
const QString stuckModifiers = QStringLiteral("修饰键一直按着，没打字（松开后再按一次热键）");
const QString controlCharacter = QStringLiteral("路径里有控制字符，没打字");
const QString noSpareKey = QStringLiteral("键盘映射里没有空闲键位，打不出这些字");
const QString noChordKeys = QStringLiteral("键盘映射里没有 Ctrl 或 Shift，没法粘贴");
const QString serverError = QStringLiteral("打字时 X 服务器报错，可能没打全");

Keyboard::Result failure(const QString& message) { return {false, message}; }

using Stroke = X11Keyboard::Stroke;

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

    // After we changed a key: the two levels of the first group hold these symbols.
    void set(int code, std::array<KeySym, 2> levels)
    {
        if (code < minCode || code > maxCode || syms.empty())
            return;
        for (int column = 0; column < perCode; ++column)
            syms[size_t((code - minCode) * perCode + column)] = column < 2 ? levels[size_t(column)] : NoSymbol;
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
    if (!stroke.code)
        return;
    if (stroke.shift)
        XTestFakeKeyEvent(display, shift, True, CurrentTime);
    XTestFakeKeyEvent(display, stroke.code, True, CurrentTime);
    XTestFakeKeyEvent(display, stroke.code, False, CurrentTime);
    if (stroke.shift)
        XTestFakeKeyEvent(display, shift, False, CurrentTime);
}

// Sets keys to their symbols (first group, both levels), one request per run of adjacent keycodes: every
// request makes each program re-read the mapping.
void mapKeys(Display* display, const std::map<KeyCode, std::array<KeySym, 2>>& symbols)
{
    for (auto it = symbols.begin(); it != symbols.end();) {
        std::vector<KeySym> syms;
        const KeyCode first = it->first;
        KeyCode next = first;
        while (it != symbols.end() && it->first == next) {
            syms.push_back(it->second[0]);
            syms.push_back(it->second[1]);
            ++it;
            ++next;
        }
        XChangeKeyboardMapping(display, first, 2, syms.data(), int(next - first));
    }
}

// Splits a text into batches before any key goes out. Characters the layout lacks borrow spare keys;
// consecutive batches use different halves of the spare keys.
class Planner {
public:
    Planner(Display* display, const std::vector<KeyCode>& lent) : map(display)
    {
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
            batch.strokes.push_back(*it);
            return true;
        }
        if (!borrowed.contains(sym)) {
            if (halves[0].empty())
                return false;
            if (size_t(borrowed.size()) == halves[half].size()) {
                close();
                if (!halves[1].empty())
                    half ^= 1;
            }
            const KeyCode code = halves[half][size_t(borrowed.size())];
            borrowed.insert(sym, code);
            touched.push_back(code);
        }
        batch.strokes.push_back({borrowed.value(sym), false});
        return true;
    }

    // Ends the batch under way.
    void close()
    {
        // Keys still holding their symbol from the last typing are left alone: nothing for programs to re-read.
        for (auto it = borrowed.constBegin(); it != borrowed.constEnd(); ++it)
            remap(it.value(), {it.key(), it.key()});
        batch.half = half;
        batch.borrows = !borrowed.isEmpty();
        batches.push_back(std::move(batch));
        batch = {};
        borrowed.clear();
    }

    // The modifiers held around <sym>, on a borrowed key when the layout lacks it.
    bool addChord(std::initializer_list<KeySym> modifiers, KeySym sym, KeySym shifted)
    {
        X11Keyboard::Chord chord;
        for (const KeySym modifier : modifiers) {
            const auto code = map.codeOf(modifier);
            if (!code)
                return false;
            chord.modifiers.push_back(*code);
        }
        KeyCode code = layout.contains(sym) && !layout.value(sym).shift ? layout.value(sym).code : 0;
        if (!code && !halves[0].empty()) {
            half = 0;
            code = halves[0].front();
            remap(code, {sym, shifted});
            touched.push_back(code);
            batch.borrows = true;
        }
        chord.key = code;
        batch.chord = std::move(chord);
        batches.push_back(std::move(batch));
        batch = {};
        return true;
    }

    KeyCode shiftKey() const { return shift; }
    std::vector<X11Keyboard::Batch> takeBatches() { return std::move(batches); }
    const std::vector<KeyCode>& borrowedKeys() const { return touched; }

private:
    void remap(KeyCode code, std::array<KeySym, 2> syms)
    {
        if (map.at(code, 0) == syms[0] && map.at(code, 1) == syms[1])
            return;
        batch.remap[code] = syms;
        map.set(code, syms);
    }

    KeyMap map; // as it will be once the batches planned so far went out
    KeyCode shift = 0;
    QHash<KeySym, Stroke> layout;
    std::vector<KeyCode> halves[2];
    int half = 0;
    QHash<KeySym, KeyCode> borrowed; // in the batch under way
    std::vector<KeyCode> touched;    // every key borrowed so far
    X11Keyboard::Batch batch;
    std::vector<X11Keyboard::Batch> batches;
};

// Lock and latched modifiers as they were before a batch went out.
struct HeldModifiers {
    unsigned int locked = 0, latched = 0;
};

// Takes off the lock and latched modifiers (Caps Lock, Num Lock, Shift Lock, a latched Shift), which would
// turn the keys into other characters; the same connection's key events that follow see them off.
HeldModifiers suspendModifiers(Display* display)
{
    XkbStateRec state{};
    if (XkbGetState(display, XkbUseCoreKbd, &state) != Success)
        return {};
    const HeldModifiers held{state.locked_mods, state.latched_mods};
    if (held.locked)
        XkbLockModifiers(display, XkbUseCoreKbd, held.locked, 0);
    if (held.latched)
        XkbLatchModifiers(display, XkbUseCoreKbd, held.latched, 0);
    return held;
}

void restoreModifiers(Display* display, const HeldModifiers& held)
{
    if (held.locked)
        XkbLockModifiers(display, XkbUseCoreKbd, held.locked, held.locked);
    if (held.latched)
        XkbLatchModifiers(display, XkbUseCoreKbd, held.latched, held.latched);
}

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

X11Keyboard::X11Keyboard(int reuseMs, int restoreDelayMs) : reuseMs(reuseMs)
{
    restoreTimer.setSingleShot(true);
    restoreTimer.setInterval(restoreDelayMs);
    QObject::connect(&restoreTimer, &QTimer::timeout, [this] { giveBack(); });
    stepTimer.setSingleShot(true);
    QObject::connect(&stepTimer, &QTimer::timeout, [this] { step(); });
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

void X11Keyboard::type(const QString& text, Done done) { enqueue({std::nullopt, text, std::move(done)}); }

void X11Keyboard::sendPasteKey(PasteKey key, Done done) { enqueue({key, QString(), std::move(done)}); }

void X11Keyboard::enqueue(Job job)
{
    jobs.push_back(std::move(job));
    if (!typing)
        startNext();
}

void X11Keyboard::startNext()
{
    while (!jobs.empty() && !typing) {
        Job job = std::move(jobs.front());
        jobs.pop_front();
        if (const auto refused = plan(job))
            job.done(*refused);
        else {
            done = std::move(job.done);
            step();
        }
    }
}

// Plans the whole job; a result when it cannot start.
std::optional<Keyboard::Result> X11Keyboard::plan(const Job& job)
{
    Display* display = X11Display::get();
    if (const auto failed = unusable(display))
        return *failed;
    const auto characters = job.text.toUcs4();
    for (const char32_t c : characters)
        if (isControl(c))
            return failure(controlCharacter);
    if (!releaseModifiers(display))
        return failure(stuckModifiers);

    X11Display::ErrorTrap trap(display);
    Planner planner(display, lent);
    if (job.pasteKey) {
        const bool planned = *job.pasteKey == PasteKey::shiftInsert
                                 ? planner.addChord({XK_Shift_L}, XK_Insert, XK_Insert)
                                 : planner.addChord({XK_Control_L, XK_Shift_L}, XK_v, XK_V);
        if (!planned)
            return failure(noChordKeys);
    } else {
        for (const char32_t c : characters)
            if (!planner.add(keysymFor(c)))
                return failure(noSpareKey);
        planner.close();
    }
    restoreTimer.stop(); // the keys lent so far may be borrowed again by this job
    typing = true;
    serverFailed = trap.failed();
    batches = planner.takeBatches();
    next = 0;
    // The halves are drawn anew: either may hold keys of the last batch of an earlier job.
    lastUse[0] = lastUse[1] = std::max(lastUse[0], lastUse[1]);
    shift = planner.shiftKey();
    borrowing = planner.borrowedKeys();
    return std::nullopt;
}

// Sends batches until one has to wait for its keys; a timer comes back for it.
void X11Keyboard::step()
{
    Display* display = X11Display::get();
    X11Display::ErrorTrap trap(display);
    for (; next < batches.size(); ++next) {
        const Batch& batch = batches[next];
        // Programs read a changed mapping when they get round to it, and slow ones can be a batch behind:
        // a key is given a new symbol only once its last batch had time to be read.
        if (!batch.remap.empty()) {
            const auto ready = lastUse[batch.half] + std::chrono::milliseconds(reuseMs);
            const auto now = std::chrono::steady_clock::now();
            if (ready > now) {
                serverFailed = serverFailed || trap.failed();
                stepTimer.start(int(std::chrono::ceil<std::chrono::milliseconds>(ready - now).count()));
                return;
            }
        }
        send(display, batch);
        if (batch.borrows)
            lastUse[batch.half] = std::chrono::steady_clock::now();
    }
    serverFailed = serverFailed || trap.failed();
    finish();
}

void X11Keyboard::send(Display* display, const Batch& batch)
{
    mapKeys(display, batch.remap);
    const HeldModifiers held = suspendModifiers(display);
    for (const Stroke& stroke : batch.strokes)
        press(display, stroke, shift);
    if (batch.chord) {
        const Chord& chord = *batch.chord;
        for (const KeyCode modifier : chord.modifiers)
            XTestFakeKeyEvent(display, modifier, True, CurrentTime);
        XTestFakeKeyEvent(display, chord.key, True, CurrentTime);
        XTestFakeKeyEvent(display, chord.key, False, CurrentTime);
        for (auto it = chord.modifiers.rbegin(); it != chord.modifiers.rend(); ++it)
            XTestFakeKeyEvent(display, *it, False, CurrentTime);
    }
    restoreModifiers(display, held);
    XSync(display, False);
}

void X11Keyboard::finish()
{
    typing = false;
    batches.clear();
    lend(borrowing);
    const Done finished = std::exchange(done, {});
    finished(serverFailed ? failure(serverError) : Result{});
    startNext();
}

// Borrowed keys go back a while later, when every program has long read what it typed.
void X11Keyboard::lend(const std::vector<unsigned char>& keys)
{
    for (const KeyCode code : keys)
        if (std::find(lent.begin(), lent.end(), code) == lent.end())
            lent.push_back(code);
    if (!lent.empty())
        restoreTimer.start();
}

void X11Keyboard::giveBack()
{
    Display* display = X11Display::get();
    if (lent.empty() || !display)
        return;
    X11Display::ErrorTrap trap(display);
    std::map<KeyCode, std::array<KeySym, 2>> none;
    for (const KeyCode code : lent)
        none[code] = {NoSymbol, NoSymbol};
    mapKeys(display, none);
    XSync(display, False);
    lent.clear();
}
