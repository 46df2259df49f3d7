#pragma once

#include <QString>

// Synthetic key presses into whatever window has the keyboard focus.
class Keyboard {
public:
    struct Result {
        bool ok = true;
        QString message; // ready to show when !ok
    };

    virtual ~Keyboard() = default;

    // True while any key other than the lock keys is down (a hot key not yet let go, say).
    virtual bool keysHeld() = 0;
    // Types the text exactly as given; modifier keys still held are released first.
    virtual Result type(const QString& text) = 0;
    // The terminals' paste key, Ctrl+Shift+V.
    virtual Result sendPasteKey() = 0;
};
