#pragma once

#include "delivery/HotkeySpec.h"
#include "platform/GlobalHotkeys.h"

#include <QObject>

#include <functional>

// The two global hot keys (paste a shot's path, open or close the panel) and where their presses go.
class HotkeyCenter : public QObject {
    Q_OBJECT
public:
    enum class Key { paste, panel };

    explicit HotkeyCenter(GlobalHotkeys& hotkeys, QObject* parent = nullptr);

    // Presses reach the hooks only once installed (the first time the account gate opens); never undone.
    bool installed() const { return isInstalled; }
    void install();

    // Replaces the slot's registration; on failure logs why and leaves the slot unregistered.
    bool registerHotkey(Key slot, const HotkeySpec& spec);
    // Unregisters every slot; the installation stays.
    void uninstallAll();
    bool isRegistered(Key slot) const;
    // Why the slot's last registration failed (the system's reason); empty when it did not.
    QString failure(Key slot) const { return failures[int(slot)]; }
    // The key name's keysym of a physical key, whatever modifiers are held.
    std::optional<quint32> baseKeysym(quint32 keycode) const { return hotkeys.baseKeysym(keycode); }

    static QString slotName(Key slot);

    // Run on the main thread after the key event has been handled, not inside it.
    std::function<void()> onPaste;
    std::function<void()> onPanel;

private:
    void dispatch(int id);

    GlobalHotkeys& hotkeys;
    bool isInstalled = false;
    bool registered[2] = {false, false};
    QString failures[2];
};
