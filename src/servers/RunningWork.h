#pragma once

#include "platform/ProcessRunner.h"

#include <QFuture>
#include <QList>

// Work under way on workers, each with its cancel token: cancelled together (quit) and waited for together.
class RunningWork {
public:
    void add(const QFuture<void>& future, const ProcessRunner::CancelToken& cancel)
    {
        entries.removeIf([](const Entry& entry) { return entry.future.isFinished(); });
        entries.append({future, cancel});
    }

    void cancelAll() const
    {
        for (const Entry& entry : entries)
            entry.cancel.cancel();
    }

    void waitForAll() const
    {
        const QList<Entry> all = entries;
        for (Entry entry : all)
            entry.future.waitForFinished();
    }

private:
    struct Entry {
        QFuture<void> future;
        ProcessRunner::CancelToken cancel;
    };
    QList<Entry> entries;
};
