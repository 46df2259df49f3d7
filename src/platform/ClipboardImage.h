#pragma once

#include "state/Outcome.h"

#include <QByteArray>
#include <QFuture>
#include <QImage>
#include <QSize>
#include <QString>

// An image the clipboard offered: its pixels, or its file bytes, asked for at once (the owner may be gone later)
// and decoded later on any thread, since receiving and decoding a big picture take long.
class ClipboardImage {
public:
    // File bytes and the format they came in.
    struct File {
        QByteArray bytes;
        QByteArray format;
    };

    ClipboardImage() = default;
    ClipboardImage(QImage pixels) : pixels(std::move(pixels)) {} // NOLINT: pixels are an image as they stand
    static ClipboardImage encoded(QByteArray bytes, QByteArray format);
    // File bytes still on their way; a transfer that failed carries the ready message.
    static ClipboardImage arriving(QFuture<Outcome<File>> file);

    bool isNull() const { return pixels.isNull() && !file.isValid(); }
    // The pixels, waiting for the bytes first; a failure with the ready message when they did not arrive or do
    // not decode.
    Outcome<QImage> decode() const;
    // The PNG file as the clipboard offered it (waiting for it first); empty for pixels or other formats.
    QByteArray pngFile() const;

    // Pixels from file bytes (the content decides the format), and the size the file claims (invalid if none).
    static std::pair<QImage, QSize> decodeBytes(const QByteArray& bytes, const QByteArray& format = {});
    // The size the file's header claims when a decoder knows the file (the content decides the format);
    // invalid otherwise. Reads the header only.
    static QSize claimedSize(const QByteArray& bytes, const QByteArray& format = {});
    static QString unreadableText(const QSize& claimed);

private:
    QImage pixels;
    QFuture<Outcome<File>> file; // valid for file bytes
};
