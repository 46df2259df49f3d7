#pragma once

#include "platform/Keyboard.h"

// Key presses through the XTest extension. Characters the current layout has are typed on their own keys
// (with Shift where needed); the others are mapped for a moment onto spare keycodes, a batch at a time.
class X11Keyboard final : public Keyboard {
public:
    // pauseMs: how long programs get to pick up a changed key mapping before and after a batch is typed.
    explicit X11Keyboard(int pauseMs = 20);

    bool keysHeld() override;
    Result type(const QString& text) override;
    Result sendPasteKey() override;

private:
    int pauseMs;
};
