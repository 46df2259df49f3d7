#pragma once

#include <QString>

#include <optional>

// The window that has the user's attention.
struct WindowInfo {
    quint64 id = 0;
    QString instanceName; // first half of WM_CLASS
    QString className;    // second half of WM_CLASS
    QString title;
};

class ActiveWindow {
public:
    virtual ~ActiveWindow() = default;
    // None when no window is active or the window manager does not say.
    virtual std::optional<WindowInfo> frontmost() = 0;
};
