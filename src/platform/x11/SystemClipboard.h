#pragma once

#include "platform/Clipboard.h"

// The CLIPBOARD selection through QClipboard (owner changes arrive through XFixes). Needs a QGuiApplication.
class SystemClipboard final : public Clipboard {
    Q_OBJECT
public:
    explicit SystemClipboard(QObject* parent = nullptr);

    quint64 changeCount() const override { return count; }
    QImage readImage() override;
    void writeText(const QString& text) override;
    bool ownsClipboard() const override;

private:
    quint64 count = 0;
};
