#pragma once

#include <QString>
#include <functional>

// Synthetic key presses into whatever window has the keyboard focus.
class Keyboard {
public:
    struct Result {
        bool ok = true;
        QString message; // ready to show when !ok
    };
    using Done = std::function<void(const Result& result)>;
    // The key a terminal pastes with: Ctrl+Shift+V (the clipboard) or Shift+Insert (the primary selection,
    // for xterm and its kin).
    enum class PasteKey { controlShiftV, shiftInsert };

    virtual ~Keyboard() = default;

    // True while any key other than the lock keys is down (a hot key not yet let go, say).
    virtual bool keysHeld() = 0;
    // Types the text exactly as given, whatever lock or latched modifiers are on; modifier keys still held
    // are released first. `done` gets the
    // result once the last key went out (on this thread, possibly before this returns); what is asked
    // for meanwhile follows in order.
    virtual void type(const QString& text, Done done) = 0;
    // A terminal's paste key; like type().
    virtual void sendPasteKey(PasteKey key, Done done) = 0;
};
