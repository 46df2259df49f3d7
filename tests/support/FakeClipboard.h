#pragma once

#include "platform/Clipboard.h"

// A clipboard in memory. Every write advances the change count and, unless told otherwise, sends the notice.
class FakeClipboard final : public Clipboard {
    Q_OBJECT
public:
    using Clipboard::Clipboard;

    quint64 changeCount() const override { return count; }
    Outcome<ClipboardImage> readImage() override;
    void writeText(const QString& text) override;
    bool ownsClipboard() const override { return owned; }
    bool announcesChanges() const override { return announces; }
    // Set: the watcher relies on the notices, as over X11.
    bool announces = false;

    // Another program copies.
    enum class Notice { Send, Withhold };
    void copyImage(const QImage& image, Notice notice = Notice::Send);
    void copyText(const QString& text, Notice notice = Notice::Send);
    // Another program copies an image that cannot be read; reading it fails with `message`.
    void copyUnreadableImage(const QString& message);

    QString text() const { return currentText; }
    int imageReads() const { return reads; }

private:
    void advance(Notice notice);

    quint64 count = 0;
    QImage currentImage;
    QString currentText;
    QString unreadable;
    bool owned = false;
    int reads = 0;
};
