#include "platform/x11/X11ActiveWindow.h"

#include "platform/x11/X11Display.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {
// One property of a window as raw bytes (none when missing).
std::optional<QByteArray> property(Display* display, Window window, const char* name, Atom type, int* format = nullptr)
{
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    const Atom atom = XInternAtom(display, name, False);
    if (XGetWindowProperty(display, window, atom, 0, 1 << 16, False, type, &actualType, &actualFormat, &count,
                           &remaining, &data) != Success)
        return std::nullopt;
    std::optional<QByteArray> bytes;
    if (data && actualType == type) {
        // Xlib hands 32-bit items as longs.
        const int itemSize = actualFormat == 32 ? int(sizeof(long)) : actualFormat / 8;
        bytes = QByteArray(reinterpret_cast<const char*>(data), int(count) * itemSize);
        if (format)
            *format = actualFormat;
    }
    if (data)
        XFree(data);
    return bytes;
}

Window activeWindow(Display* display)
{
    const auto bytes = property(display, DefaultRootWindow(display), "_NET_ACTIVE_WINDOW", XA_WINDOW);
    if (bytes && bytes->size() >= int(sizeof(long)))
        return Window(*reinterpret_cast<const long*>(bytes->constData()));
    return None;
}

// Without a window manager that names the active window: the focus window, or its nearest ancestor with a class.
Window focusWindow(Display* display)
{
    Window window = None;
    int revert = 0;
    XGetInputFocus(display, &window, &revert);
    while (window != None && window != PointerRoot && window != DefaultRootWindow(display)) {
        XClassHint hint{};
        if (XGetClassHint(display, window, &hint)) {
            XFree(hint.res_name);
            XFree(hint.res_class);
            return window;
        }
        Window root = None, parent = None, *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, window, &root, &parent, &children, &count))
            return None;
        if (children)
            XFree(children);
        window = parent;
    }
    return None;
}

QString title(Display* display, Window window)
{
    if (const auto utf8 = property(display, window, "_NET_WM_NAME", XInternAtom(display, "UTF8_STRING", False)))
        return QString::fromUtf8(*utf8);
    // The old WM_NAME in whatever encoding the program chose (xterm: STRING or COMPOUND_TEXT).
    XTextProperty text{};
    if (!XGetWMName(display, window, &text) || !text.value)
        return {};
    QString result;
    char** list = nullptr;
    int count = 0;
    if (Xutf8TextPropertyToTextList(display, &text, &list, &count) >= Success && list) {
        for (int i = 0; i < count; ++i)
            result += QString::fromUtf8(list[i]);
        XFreeStringList(list);
    } else if (text.encoding == XA_STRING) {
        result = QString::fromLatin1(reinterpret_cast<const char*>(text.value), int(text.nitems));
    }
    XFree(text.value);
    return result;
}
}

std::optional<WindowInfo> X11ActiveWindow::frontmost()
{
    Display* display = X11Display::get();
    if (!display)
        return std::nullopt;
    X11Display::ErrorTrap trap(display); // the window may go away while we read it
    Window window = activeWindow(display);
    if (window == None)
        window = focusWindow(display);
    if (window == None)
        return std::nullopt;
    WindowInfo info;
    info.id = window;
    XClassHint hint{};
    if (XGetClassHint(display, window, &hint)) {
        info.instanceName = QString::fromLocal8Bit(hint.res_name);
        info.className = QString::fromLocal8Bit(hint.res_class);
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    info.title = title(display, window);
    if (trap.failed())
        return std::nullopt;
    return info;
}
