#pragma once

#include "platform/AccessibilityTrust.h"

// On X11 any program may send key presses once the server offers XTest; under Wayland nobody may.
class X11AccessibilityTrust final : public AccessibilityTrust {
public:
    bool isTrusted() override;
    bool isWayland() override;
    // The server's extensions, and the kind of session, are fixed while it runs.
    bool mayChange() override { return false; }
};
