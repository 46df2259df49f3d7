#pragma once

#include "platform/AccessibilityTrust.h"

class FakeAccessibilityTrust final : public AccessibilityTrust {
public:
    bool isTrusted() override { return trusted; }
    bool isWayland() override { return wayland; }

    bool trusted = true;
    bool wayland = false;
};
