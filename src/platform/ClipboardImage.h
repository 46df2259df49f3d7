#pragma once

#include "state/Outcome.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

// An image the clipboard offered: its pixels, or its file bytes, read at once (the owner may be gone later) and
// decoded later on any thread, since decoding a big picture takes long.
class ClipboardImage {
public:
    ClipboardImage() = default;
    ClipboardImage(QImage pixels) : pixels(std::move(pixels)) {} // NOLINT: pixels are an image as they stand
    static ClipboardImage encoded(QByteArray bytes, QByteArray format);

    bool isNull() const { return pixels.isNull() && bytes.isEmpty(); }
    // The pixels; a failure with the ready message when the bytes do not decode.
    Outcome<QImage> decode() const;
    // The PNG file as the clipboard offered it; empty for pixels or other formats.
    QByteArray pngFile() const;

    // Pixels from file bytes (the content decides the format), and the size the file claims (invalid if none).
    static std::pair<QImage, QSize> decodeBytes(const QByteArray& bytes, const QByteArray& format = {});
    static QString unreadableText(const QSize& claimed);

private:
    QImage pixels;
    QByteArray bytes;
    QByteArray format;
};
