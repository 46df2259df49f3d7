#pragma once
// Measures the event loop's longest stall: the longest gap between two ticks of a 1 ms timer.
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>

class StallProbe {
public:
    StallProbe()
    {
        tick.setInterval(1);
        QObject::connect(&tick, &QTimer::timeout, [this] {
            longest = std::max(longest, since.nsecsElapsed());
            since.restart();
        });
    }
    void start()
    {
        longest = 0;
        since.start();
        tick.start();
    }
    double stop()
    {
        tick.stop();
        return double(std::max(longest, since.nsecsElapsed())) / 1e6;
    }

private:
    QTimer tick;
    QElapsedTimer since;
    qint64 longest = 0;
};
