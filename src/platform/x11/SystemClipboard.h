#pragma once

#include "platform/Clipboard.h"

// The CLIPBOARD selection through QClipboard (owner changes arrive through XFixes). Needs a QGuiApplication.
class SystemClipboard final : public Clipboard {
    Q_OBJECT
public:
    explicit SystemClipboard(QObject* parent = nullptr);

    quint64 changeCount() const override { return count; }
    Outcome<ClipboardImage> readImage() override;

    // Images up to this many megabytes of pixels are read (Qt's own default, 128, drops a full-page
    // capture of 2400×15000): 16384×16384 at four bytes a pixel.
    static constexpr int imageLimitMB = 1024;
    void writeText(const QString& text) override;
    bool ownsClipboard() const override;

private:
    quint64 count = 0;
};
