#include "support/TestImages.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QtEndian>

namespace TestImages {

QImage screenshot(int width, int height, int seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(240, 240, 240));
    QPainter painter(&image);
    QRandomGenerator random{quint32(seed)};
    for (int i = 0; i < 40; ++i)
        painter.fillRect(random.bounded(width), random.bounded(height), random.bounded(1, std::max(2, width / 3)),
                         random.bounded(1, std::max(2, height / 8)), QColor::fromRgb(random.generate()));
    return image;
}

QImage noise(int width, int height, int seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random{quint32(seed)};
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = random.generate() | 0xff000000u;
    }
    return image;
}

namespace {
quint32 crc32(const QByteArray& bytes)
{
    quint32 crc = 0xffffffffu;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray chunk(const QByteArray& type, const QByteArray& data)
{
    QByteArray out(4, '\0');
    qToBigEndian(quint32(data.size()), out.data());
    QByteArray crc(4, '\0');
    qToBigEndian(crc32(type + data), crc.data());
    return out + type + data + crc;
}
} // namespace

QByteArray pngClaiming(QSize size)
{
    QByteArray header(13, '\0');
    qToBigEndian(quint32(size.width()), header.data());
    qToBigEndian(quint32(size.height()), header.data() + 4);
    header[8] = 8; // bits per channel
    header[9] = 2; // RGB
    // qCompress puts a 4-byte length before the zlib stream.
    const QByteArray pixels = qCompress(QByteArray(16, '\0')).mid(4);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", pixels) + chunk("IEND", {});
}

} // namespace TestImages
