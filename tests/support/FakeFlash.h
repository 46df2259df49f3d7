#pragma once

#include "platform/Flash.h"

#include <QStringList>

// Records every notice instead of showing it.
class FakeFlash final : public Flash {
public:
    struct Shown {
        QString line;
        bool withImage;
        int durationMs;
    };
    void show(const QImage& image, const QString& line, int durationMs) override
    {
        shown.push_back({line, !image.isNull(), durationMs});
    }
    QStringList lines() const
    {
        QStringList out;
        for (const Shown& s : shown)
            out << s.line;
        return out;
    }
    std::vector<Shown> shown;
};
