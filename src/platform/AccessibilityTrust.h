#pragma once

// Whether this session lets us send key presses to other programs.
class AccessibilityTrust {
public:
    virtual ~AccessibilityTrust() = default;
    virtual bool isTrusted() = 0;
    // A Wayland session: other programs' windows cannot be typed into from here.
    virtual bool isWayland() = 0;
};
