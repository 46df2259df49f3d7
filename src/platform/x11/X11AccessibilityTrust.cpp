#include "platform/x11/X11AccessibilityTrust.h"

#include "platform/x11/X11Display.h"

#include <QString>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

bool X11AccessibilityTrust::isWayland()
{
    return qEnvironmentVariable("XDG_SESSION_TYPE").compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

bool X11AccessibilityTrust::isTrusted()
{
    if (isWayland())
        return false;
    Display* display = X11Display::get();
    int event = 0, error = 0, major = 0, minor = 0;
    return display && XTestQueryExtension(display, &event, &error, &major, &minor);
}
