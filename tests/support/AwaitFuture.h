#pragma once

#include "support/WaitUntil.h"

#include <QFuture>
#include <optional>

// Runs the event loop until the future is finished (or the time is up) and returns its result.
template <typename T>
std::optional<T> awaitFuture(QFuture<T> future, int timeoutMs = 30000)
{
    if (!waitUntil([&] { return future.isFinished(); }, timeoutMs) || future.resultCount() == 0)
        return std::nullopt;
    return future.result();
}

// The same for a future without a value: true when it finished in time.
inline bool awaitFinished(QFuture<void> future, int timeoutMs = 30000)
{
    return waitUntil([&] { return future.isFinished(); }, timeoutMs);
}
