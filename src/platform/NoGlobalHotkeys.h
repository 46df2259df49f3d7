#pragma once

#include "platform/GlobalHotkeys.h"

// Where the desktop offers no global hot keys (no X11 connection, e.g. Wayland): every grab fails and says why.
class NoGlobalHotkeys final : public GlobalHotkeys {
public:
    using GlobalHotkeys::GlobalHotkeys;
    Grab grab(int, quint32, Modifiers) override { return {false, QStringLiteral("没有 X11 连接")}; }
    void release(int) override {}
};
