#pragma once

#include "delivery/FlashSink.h"

// Writes each notice to the log.
class LogFlashSink final : public FlashSink {
public:
    void flash(const QString& text, const std::optional<QString>& imagePath) override;
};
