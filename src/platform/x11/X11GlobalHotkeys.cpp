#include "platform/x11/X11GlobalHotkeys.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <X11/keysym.h>

#include <array>
#include <vector>

namespace {
// Which X modifier bit each of our modifiers lands on, read from the server's modifier map.
struct ModifierBits {
    quint16 alt = XCB_MOD_MASK_1;
    quint16 super = XCB_MOD_MASK_4;
    quint16 numLock = XCB_MOD_MASK_2;
};

struct KeyboardTables {
    std::vector<xcb_keysym_t> keysyms;
    int firstCode = 8;
    int perCode = 0;

    std::optional<xcb_keycode_t> codeOf(xcb_keysym_t sym) const
    {
        for (int column = 0; column < std::min(perCode, 2); ++column)
            for (size_t i = size_t(column); i < keysyms.size(); i += size_t(perCode))
                if (keysyms[i] == sym)
                    return xcb_keycode_t(firstCode + int(i) / perCode);
        return std::nullopt;
    }

    bool codeHas(xcb_keycode_t code, std::initializer_list<xcb_keysym_t> syms) const
    {
        const int row = code - firstCode;
        if (perCode == 0 || row < 0 || size_t((row + 1) * perCode) > keysyms.size())
            return false;
        for (int column = 0; column < perCode; ++column)
            for (const xcb_keysym_t sym : syms)
                if (keysyms[size_t(row * perCode + column)] == sym)
                    return true;
        return false;
    }
};

KeyboardTables readKeyboard(xcb_connection_t* connection)
{
    KeyboardTables tables;
    const xcb_setup_t* setup = xcb_get_setup(connection);
    tables.firstCode = setup->min_keycode;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto cookie = xcb_get_keyboard_mapping(connection, setup->min_keycode, quint8(count));
    if (auto* reply = xcb_get_keyboard_mapping_reply(connection, cookie, nullptr)) {
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
        tables.keysyms.assign(syms, syms + xcb_get_keyboard_mapping_keysyms_length(reply));
        tables.perCode = reply->keysyms_per_keycode;
        free(reply);
    }
    return tables;
}

ModifierBits readModifierBits(xcb_connection_t* connection, const KeyboardTables& tables)
{
    ModifierBits bits;
    auto cookie = xcb_get_modifier_mapping(connection);
    auto* reply = xcb_get_modifier_mapping_reply(connection, cookie, nullptr);
    if (!reply)
        return bits;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply);
    const int perModifier = reply->keycodes_per_modifier;
    bool alt = false, super = false, numLock = false;
    // Rows 3 to 7 are Mod1 to Mod5.
    for (int row = 3; row < 8; ++row) {
        const quint16 bit = quint16(1 << row);
        for (int i = 0; i < perModifier; ++i) {
            const xcb_keycode_t code = codes[row * perModifier + i];
            if (!code)
                continue;
            if (!alt && tables.codeHas(code, {XK_Alt_L, XK_Alt_R}))
                bits.alt = bit, alt = true;
            if (!super && tables.codeHas(code, {XK_Super_L, XK_Super_R}))
                bits.super = bit, super = true;
            if (!numLock && tables.codeHas(code, {XK_Num_Lock}))
                bits.numLock = bit, numLock = true;
        }
    }
    free(reply);
    return bits;
}

std::array<quint16, 4> lockVariants(quint16 numLock)
{
    return {quint16(0), quint16(XCB_MOD_MASK_LOCK), numLock, quint16(XCB_MOD_MASK_LOCK | numLock)};
}

QString statusText(const xcb_generic_error_t* error)
{
    switch (error->error_code) {
    case XCB_ACCESS:
        return QStringLiteral("BadAccess，组合键已被别的程序占用");
    case XCB_VALUE:
        return QStringLiteral("BadValue");
    default:
        return QStringLiteral("X 错误 %1").arg(error->error_code);
    }
}
}

X11GlobalHotkeys::X11GlobalHotkeys(xcb_connection_t* connection, quint32 root, QObject* parent)
    : GlobalHotkeys(parent), connection(connection), root(root)
{
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11GlobalHotkeys::~X11GlobalHotkeys()
{
    for (const Combination& combination : std::as_const(grabs))
        ungrab(combination);
    xcb_flush(connection);
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

std::unique_ptr<X11GlobalHotkeys> X11GlobalHotkeys::forApplication(QObject* parent)
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return nullptr;
    xcb_connection_t* connection = x11->connection();
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen)
        return nullptr;
    return std::make_unique<X11GlobalHotkeys>(connection, screen->root, parent);
}

std::optional<quint32> X11GlobalHotkeys::baseKeysym(quint32 keycode) const
{
    const KeyboardTables tables = readKeyboard(connection);
    const qsizetype at = (qsizetype(keycode) - tables.firstCode) * tables.perCode;
    if (tables.perCode == 0 || at < 0 || at >= qsizetype(tables.keysyms.size()) || !tables.keysyms[size_t(at)])
        return std::nullopt;
    return tables.keysyms[size_t(at)];
}

GlobalHotkeys::Grab X11GlobalHotkeys::grab(int id, quint32 keysym, Modifiers modifiers)
{
    release(id);
    const KeyboardTables tables = readKeyboard(connection);
    const auto keycode = tables.codeOf(keysym);
    if (!keycode)
        return {false, QStringLiteral("键盘上没有这个键")};
    const ModifierBits bits = readModifierBits(connection, tables);
    Combination combination;
    combination.keycode = *keycode;
    combination.numLock = bits.numLock;
    if (modifiers & Control)
        combination.modifiers |= XCB_MOD_MASK_CONTROL;
    if (modifiers & Shift)
        combination.modifiers |= XCB_MOD_MASK_SHIFT;
    if (modifiers & Alt)
        combination.modifiers |= bits.alt;
    if (modifiers & Super)
        combination.modifiers |= bits.super;

    std::vector<xcb_void_cookie_t> cookies;
    for (const quint16 locks : lockVariants(bits.numLock))
        cookies.push_back(xcb_grab_key_checked(connection, 1, root, quint16(combination.modifiers | locks),
                                               combination.keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    QString status;
    for (const xcb_void_cookie_t cookie : cookies)
        if (xcb_generic_error_t* error = xcb_request_check(connection, cookie)) {
            if (status.isEmpty())
                status = statusText(error);
            free(error);
        }
    if (!status.isEmpty()) {
        // Some variants may have gone through: give those back too.
        ungrab(combination);
        xcb_flush(connection);
        return {false, status};
    }
    grabs.insert(id, combination);
    return {};
}

void X11GlobalHotkeys::release(int id)
{
    const auto it = grabs.constFind(id);
    if (it == grabs.constEnd())
        return;
    ungrab(*it);
    grabs.erase(it);
    xcb_flush(connection);
}

void X11GlobalHotkeys::ungrab(const Combination& combination)
{
    for (const quint16 locks : lockVariants(combination.numLock))
        xcb_ungrab_key(connection, combination.keycode, root, quint16(combination.modifiers | locks));
}

bool X11GlobalHotkeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS)
        return false;
    const auto* press = static_cast<const xcb_key_press_event_t*>(message);
    const quint16 relevant = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_2
        | XCB_MOD_MASK_3 | XCB_MOD_MASK_4 | XCB_MOD_MASK_5;
    for (auto it = grabs.constBegin(); it != grabs.constEnd(); ++it) {
        const quint16 held = press->state & relevant & ~it->numLock;
        if (press->detail == it->keycode && held == it->modifiers) {
            Q_EMIT pressed(it.key());
            return true;
        }
    }
    return false;
}
