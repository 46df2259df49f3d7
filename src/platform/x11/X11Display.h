#pragma once

typedef struct _XDisplay Display;

// Our own Xlib connection for key events and window queries (Qt keeps its own xcb connection to itself).
// Opened on first use, kept for the life of the process; main thread only.
class X11Display {
public:
    // None when there is no X server to talk to.
    static Display* get();
    // Whether an X server answers at DISPLAY: a connection opened and closed again, so it can be asked
    // before Qt starts (whose own failure to connect aborts the process).
    static bool reachable();

    // While alive, X errors are counted instead of ending the process (Xlib's default).
    class ErrorTrap {
    public:
        explicit ErrorTrap(Display* display);
        ~ErrorTrap();
        // Waits for every request so far and tells whether any failed.
        bool failed();

    private:
        Display* display;
        int (*previous)(Display*, void*);
    };
};
