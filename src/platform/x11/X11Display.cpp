#include "platform/x11/X11Display.h"

#include <QByteArray>

#include <X11/Xlib.h>

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
