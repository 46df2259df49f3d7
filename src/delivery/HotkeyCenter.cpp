#include "delivery/HotkeyCenter.h"

#include "state/Log.h"

namespace {
GlobalHotkeys::Modifiers grabModifiers(const HotkeySpec& spec)
{
    GlobalHotkeys::Modifiers modifiers;
    if (spec.modifiers & HotkeySpec::control)
        modifiers |= GlobalHotkeys::Control;
    if (spec.modifiers & HotkeySpec::option)
        modifiers |= GlobalHotkeys::Alt;
    if (spec.modifiers & HotkeySpec::shift)
        modifiers |= GlobalHotkeys::Shift;
    if (spec.modifiers & HotkeySpec::command)
        modifiers |= GlobalHotkeys::Super;
    return modifiers;
}

int idOf(HotkeyCenter::Key slot) { return int(slot); }
}

HotkeyCenter::HotkeyCenter(GlobalHotkeys& hotkeys, QObject* parent) : QObject(parent), hotkeys(hotkeys) {}

void HotkeyCenter::install()
{
    if (isInstalled)
        return;
    // Queued: the press arrives inside the native event filter, and the paste must not run in there.
    connect(&hotkeys, &GlobalHotkeys::pressed, this, &HotkeyCenter::dispatch, Qt::QueuedConnection);
    isInstalled = true;
}

bool HotkeyCenter::registerHotkey(Key slot, const HotkeySpec& spec)
{
    hotkeys.release(idOf(slot));
    registered[idOf(slot)] = false;
    failures[idOf(slot)].clear();
    const GlobalHotkeys::Grab grab = hotkeys.grab(idOf(slot), spec.keyCode, grabModifiers(spec));
    if (!grab.ok) {
        Log::write(QStringLiteral("注册热键 %1 失败（%2）").arg(slotName(slot), grab.status));
        failures[idOf(slot)] = grab.status;
        return false;
    }
    registered[idOf(slot)] = true;
    return true;
}

void HotkeyCenter::uninstallAll()
{
    for (const Key slot : {Key::paste, Key::panel}) {
        hotkeys.release(idOf(slot));
        registered[idOf(slot)] = false;
        failures[idOf(slot)].clear();
    }
}

bool HotkeyCenter::isRegistered(Key slot) const { return registered[idOf(slot)]; }

QString HotkeyCenter::slotName(Key slot)
{
    return slot == Key::paste ? QStringLiteral("paste") : QStringLiteral("panel");
}

void HotkeyCenter::dispatch(int id)
{
    // A press already queued when its slot was unregistered does nothing.
    if (id == idOf(Key::paste) && registered[id] && onPaste)
        onPaste();
    else if (id == idOf(Key::panel) && registered[id] && onPanel)
        onPanel();
}
