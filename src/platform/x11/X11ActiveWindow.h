#pragma once

#include "platform/ActiveWindow.h"

// The active window as the window manager announces it (_NET_ACTIVE_WINDOW), else the focus window.
class X11ActiveWindow final : public ActiveWindow {
public:
    std::optional<WindowInfo> frontmost() override;
};
