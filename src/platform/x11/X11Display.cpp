#include "platform/x11/X11Display.h"

#include <QByteArray>

#include <X11/Xlib.h>
#include <xcb/xcb.h>

namespace {
int trappedErrors = 0;

int countError(Display*, XErrorEvent*)
{
    ++trappedErrors;
    return 0;
}
}

Display* X11Display::get()
{
    static Display* display = [] {
        const QByteArray name = qgetenv("DISPLAY");
        return name.isEmpty() ? nullptr : XOpenDisplay(name.constData());
    }();
    return display;
}

bool X11Display::reachable()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return false;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool connected = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return connected;
}

X11Display::ErrorTrap::ErrorTrap(Display* display) : display(display)
{
    XSync(display, False);
    trappedErrors = 0;
    previous = reinterpret_cast<int (*)(Display*, void*)>(XSetErrorHandler(countError));
}

X11Display::ErrorTrap::~ErrorTrap()
{
    XSync(display, False);
    XSetErrorHandler(reinterpret_cast<XErrorHandler>(previous));
}

bool X11Display::ErrorTrap::failed()
{
    XSync(display, False);
    return trappedErrors > 0;
}
