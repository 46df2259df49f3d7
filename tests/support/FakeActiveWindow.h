#pragma once

#include "platform/ActiveWindow.h"

#include <functional>

// The frontmost window is whatever the test puts in `window`; `onQuery` runs before each answer.
class FakeActiveWindow final : public ActiveWindow {
public:
    std::optional<WindowInfo> frontmost() override
    {
        ++queries;
        if (onQuery)
            onQuery(queries);
        return window;
    }

    static WindowInfo terminal(const QString& title, quint64 id = 1)
    {
        return {id, QStringLiteral("xterm"), QStringLiteral("XTerm"), title};
    }

    std::optional<WindowInfo> window;
    std::function<void(int)> onQuery;
    int queries = 0;
};
