#pragma once

#include <QImage>
#include <QString>

// The short notice services show to the user (the real one is a window at the top right of the screen).
class Flash {
public:
    static constexpr int defaultMs = 1600;
    static constexpr int copyMs = 1000;
    static constexpr int newDeviceMs = 4000;
    static constexpr int openFailedMs = 4000; // long enough to read which package is missing

    virtual ~Flash() = default;
    virtual void show(const QImage& image, const QString& line, int durationMs = defaultMs) = 0;
};
