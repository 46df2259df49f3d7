#pragma once

#include "platform/Clipboard.h"
#include "platform/x11/X11SelectionReader.h"

#include <QThreadPool>
#include <chrono>

// The CLIPBOARD selection through QClipboard (owner changes arrive through XFixes). Needs a QGuiApplication.
// An offered image's bytes come over a connection of their own on a thread of their own, so a large picture
// never holds up this thread.
class SystemClipboard final : public Clipboard {
    Q_OBJECT
public:
    // How long a transfer waits for the program that copied to send its next piece.
    static constexpr std::chrono::milliseconds defaultPatience{5000};

    explicit SystemClipboard(QObject* parent = nullptr, std::chrono::milliseconds patience = defaultPatience);
    ~SystemClipboard() override;

    quint64 changeCount() const override { return count; }
    // The image's bytes are still arriving when this returns; it lists the offered types only.
    Outcome<ClipboardImage> readImage() override;

    // Images up to this many megabytes of pixels are read (Qt's own default, 128, drops a full-page
    // capture of 2400×15000): 16384×16384 at four bytes a pixel.
    static constexpr int imageLimitMB = 1024;
    void writeText(const QString& text) override;
    bool ownsClipboard() const override;
    // The X server tells of every new owner of the selection (XFixes).
    bool announcesChanges() const override { return true; }

private:
    // On the transfer thread: the bytes of the first of `types` whose header reads as an image.
    Outcome<ClipboardImage::File> receive(const QList<QByteArray>& types);

    quint64 count = 0;
    X11SelectionReader reader;
    QThreadPool transfers; // one thread: copies are received in the order they came
};
