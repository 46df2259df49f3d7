#pragma once

typedef struct _XDisplay Display;

// Our own Xlib connection for key events and window queries (Qt keeps its own xcb connection to itself).
// Opened on first use, kept for the life of the process; main thread only.
class X11Display {
public:
    // None when there is no X server to talk to.
    static Display* get();

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
