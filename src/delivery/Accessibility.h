#pragma once

#include "platform/AccessibilityTrust.h"

// Permission to send key presses. On X11 there is nothing to grant: trusted when XTest works;
// a Wayland session is not trusted and only the copy-only paste works there.
class Accessibility {
public:
    explicit Accessibility(AccessibilityTrust& trust);

    bool isTrusted();
    // Whether asking again later may give another answer.
    bool mayChange() { return trust.mayChange(); }
    // Nothing to open or reset on Linux: both only say so in the log.
    void openSettings();
    void resetAndReprompt();

private:
    void logNothingToGrant();

    AccessibilityTrust& trust;
};
