#pragma once

#include <QDateTime>

// The one source of "now", so day boundaries, retention and back-offs can be tested.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;

    // The process-wide clock; tests may install their own for the life of a test.
    static Clock& instance();
    static void setInstance(Clock* clock);
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};
