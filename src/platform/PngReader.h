#pragma once

#include <QByteArray>
#include <QImage>
#include <optional>

// A fast reader for the PNGs screenshot tools put on the clipboard: 8 bits a sample, RGB or RGBA, not
// interlaced, no transparency chunk. The whole stream is inflated at once with libdeflate, several times
// quicker than zlib's streaming inflate; every other PNG is left to Qt's reader.
class PngReader {
public:
    // True when the header says the file is one this reader takes.
    static bool takes(const QByteArray& png);
    // The pixels (RGB32, or ARGB32 when the file has alpha); none when the file is not one this reader takes,
    // or is damaged (a chunk's checksum, the stream, a row filter), or over `maxPixelBytes` decoded.
    static std::optional<QImage> read(const QByteArray& png, qint64 maxPixelBytes);
    // The file with only the chunks that make its pixels (IHDR, IDAT, IEND): no text, time, colour profile
    // or camera data. Empty when the file is not one this reader takes.
    static QByteArray pixelsOnly(const QByteArray& png);
};
