#pragma once

#include <QObject>

class SleepInhibitor;

// Keeps the computer awake while other machines may connect to it: a lock is held only while that is
// wanted and the computer runs on mains power. Updated on every switch change and every applied status,
// so unplugging releases the lock at the next poll and plugging in takes it again. The lock counts (and is
// logged) only once the system has handed it out.
class SleepGuard : public QObject {
    Q_OBJECT
public:
    explicit SleepGuard(SleepInhibitor& inhibitor, QObject* parent = nullptr);

    void update(bool wanted);
    bool active() const { return held; }

private:
    SleepInhibitor& inhibitor;
    bool asking = false; // asked for, not answered yet
    bool held = false;
};
