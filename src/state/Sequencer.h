#pragma once

#include "state/Store.h"

#include <QDateTime>
#include <functional>
#include <mutex>

// The daily shot number behind seq.json. Numbers start at 1 each local day and never repeat within a day,
// also across restarts.
class Sequencer {
public:
    explicit Sequencer(const Store& store);

    // The next number of `now`'s day, saved before it is returned (or handed to `saveLater`).
    qint64 next(const QDateTime& now);
    // The last number issued on `now`'s day (0 on a new day).
    qint64 peek(const QDateTime& now) const;
    // Start the day over (only when the user asked for numbers to restart on clear).
    void reset(const QDateTime& now);
    // Never hand out `n` or below again today: a shot with that number already exists.
    void raiseTo(const QDateTime& now, qint64 n);

    static QString dayKey(const QDateTime& time);

    // Takes the saving of seq.json off the caller's thread: runs the job before anything written after it.
    std::function<void(std::function<void()>)> saveLater;

private:
    void save();

    const Store& store;
    mutable std::mutex mutex;
    Seq seq;
};
