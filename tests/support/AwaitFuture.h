#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFuture>
#include <QFutureWatcher>
#include <QTimer>
#include <optional>

// Runs the event loop until the future is finished (or the time is up) and returns its result.
template <typename T>
std::optional<T> awaitFuture(QFuture<T> future, int timeoutMs = 30000)
{
    if (!future.isFinished()) {
        QEventLoop loop;
        QFutureWatcher<T> watcher;
        QObject::connect(&watcher, &QFutureWatcher<T>::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        watcher.setFuture(future);
        if (!future.isFinished())
            loop.exec();
    }
    if (!future.isFinished() || future.resultCount() == 0)
        return std::nullopt;
    return future.result();
}

// The same for a future without a value: true when it finished in time.
inline bool awaitFinished(QFuture<void> future, int timeoutMs = 30000)
{
    if (!future.isFinished()) {
        QEventLoop loop;
        QFutureWatcher<void> watcher;
        QObject::connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        watcher.setFuture(future);
        if (!future.isFinished())
            loop.exec();
    }
    return future.isFinished();
}
