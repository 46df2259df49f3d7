#include "support/TestImages.h"

#include <QBuffer>
#include <QImageWriter>
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

QByteArray qtPng(const QImage& image, int quality, const QString& comment)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.setQuality(quality);
    if (!comment.isEmpty())
        writer.setText(QStringLiteral("Comment"), comment);
    return writer.write(image) ? bytes : QByteArray();
}

QByteArray pngClaiming(QSize size) { return png({size, 2, 8, 0, QByteArray(16, '\0'), 1, {}}); }

QByteArray png(const PngParts& parts)
{
    QByteArray header(13, '\0');
    qToBigEndian(quint32(parts.size.width()), header.data());
    qToBigEndian(quint32(parts.size.height()), header.data() + 4);
    header[8] = char(parts.bits);
    header[9] = char(parts.colourType);
    header[12] = char(parts.interlace);
    QByteArray file = QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header);
    for (const auto& [type, data] : parts.extra)
        file += chunk(type, data);
    // qCompress puts a 4-byte length before the zlib stream.
    const QByteArray stream = qCompress(parts.rows).mid(4);
    const qsizetype piece = stream.size() / parts.idatChunks + 1;
    for (qsizetype at = 0; at < stream.size(); at += piece)
        file += chunk("IDAT", stream.mid(at, piece));
    return file + chunk("IEND", {});
}

QByteArray filteredRows(QSize size, int channels, int filter, int seed)
{
    QRandomGenerator random{quint32(seed)};
    QByteArray rows;
    for (int y = 0; y < size.height(); ++y) {
        rows += char(filter >= 0 ? filter : int(random.bounded(5)));
        for (int i = 0; i < size.width() * channels; ++i)
            rows += char(random.bounded(256));
    }
    return rows;
}

} // namespace TestImages
