#pragma once

#include "delivery/FlashSink.h"

#include <QList>
#include <QStringList>

// Records every notice instead of showing it.
class FakeFlashSink final : public FlashSink {
public:
    void flash(const QString& text, const std::optional<QString>& imagePath) override
    {
        texts << text;
        images << imagePath;
    }
    QStringList texts;
    QList<std::optional<QString>> images;
};
