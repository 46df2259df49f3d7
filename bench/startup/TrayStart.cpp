// Starts a tray program again and again on the X server of $DISPLAY, whose window manager has a tray, and
// prints the median time from the start of the process until its icon is docked (its XEmbed window taken
// into the tray): traystart RUNS PROGRAM [ARGS...]
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

bool isEmbedded(Display* display, Window window, Atom info)
{
    Atom type = None;
    int format = 0;
    unsigned long items = 0, left = 0;
    unsigned char* data = nullptr;
    const int status =
        XGetWindowProperty(display, window, info, 0, 2, False, AnyPropertyType, &type, &format, &items, &left, &data);
    if (data)
        XFree(data);
    return status == Success && type != None;
}

int ignoreErrors(Display*, XErrorEvent*) { return 0; }

// Milliseconds until the icon is docked, or -1 after 10 s.
double runOnce(Display* display, char** program)
{
    const Atom info = XInternAtom(display, "_XEMBED_INFO", False);
    XSync(display, True);
    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execvp(program[0], program);
        _exit(127);
    }
    double docked = -1;
    while (docked < 0 && Clock::now() - start < std::chrono::seconds(10)) {
        if (!XPending(display)) {
            pollfd fd{ConnectionNumber(display), POLLIN, 0};
            poll(&fd, 1, 100);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == ReparentNotify && event.xreparent.parent != DefaultRootWindow(display) &&
            isEmbedded(display, event.xreparent.window, info))
            docked = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    usleep(300 * 1000); // the tray lets the icon go
    return docked;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: traystart RUNS PROGRAM [ARGS...]\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "no X server\n");
        return 1;
    }
    XSetErrorHandler(ignoreErrors);
    // Docking moves the icon's window out of the root window: the root's structure notices tell.
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    const int runs = std::max(1, std::atoi(argv[1]));
    std::vector<double> times;
    runOnce(display, argv + 2); // warms the caches
    for (int i = 0; i < runs; ++i)
        if (const double ms = runOnce(display, argv + 2); ms >= 0)
            times.push_back(ms);
    if (times.empty()) {
        std::printf("never docked\n");
        return 1;
    }
    std::sort(times.begin(), times.end());
    std::printf("%.1f\n", times[times.size() / 2]);
    return 0;
}
