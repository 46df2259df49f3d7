#pragma once

#include "platform/AccessibilityTrust.h"

// On X11 any program may send key presses once the server offers XTest; under Wayland nobody may.
class X11AccessibilityTrust final : public AccessibilityTrust {
public:
    bool isTrusted() override;
    bool isWayland() override;
};
