#pragma once

#include "state/Clock.h"

// A clock that stands still until told; installed as the process clock for its lifetime.
class FakeClock final : public Clock {
public:
    explicit FakeClock(QDateTime start) : current(std::move(start)) { Clock::setInstance(this); }
    ~FakeClock() override
    {
        if (&Clock::instance() == this)
            Clock::setInstance(nullptr);
    }
    QDateTime now() const override { return current; }
    void set(const QDateTime& time) { current = time; }
    void advance(qint64 seconds) { current = current.addSecs(seconds); }

private:
    QDateTime current;
};
