#pragma once

#include <QString>
#include <optional>

// Where the uploader's one-line summaries go: the notice at the top right of the screen once the
// application core has it, a log line until then, a recorder in tests.
class FlashSink {
public:
    virtual ~FlashSink() = default;
    virtual void flash(const QString& text, const std::optional<QString>& imagePath) = 0;
};
