#pragma once

// Whether this session lets us send key presses to other programs.
class AccessibilityTrust {
public:
    virtual ~AccessibilityTrust() = default;
    virtual bool isTrusted() = 0;
    // A Wayland session: other programs' windows cannot be typed into from here.
    virtual bool isWayland() = 0;
    // False when the answer stays as it is for the whole session: nobody needs to ask again.
    virtual bool mayChange() { return true; }
};
