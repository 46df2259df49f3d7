#include "capture/ImageStore.h"

#include "capture/PngWriter.h"
#include "platform/PngReader.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>
#include <QtConcurrent/QtConcurrentRun>
#include <bit>
#include <cmath>
#include <limits>
#include <openssl/evp.h>

namespace {
QByteArray encode(const QImage& image, const char* format, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    if (!writer.write(image))
        return {};
    return bytes;
}

// True when an image whose format has alpha has no pixel that uses it.
QByteArray encodePng(const QImage& image)
{
    return PngWriter::takes(image) ? PngWriter::encode(image) : encode(image, "png", -1);
}

// True when the PNG would clearly be over `maxBytes` (by a quarter, beyond the estimate's error), so the
// JPEG can be written without paying for the whole PNG first. Small pictures cannot be, and are not sampled.
bool clearlyOverAsPng(const QImage& image, qint64 maxBytes)
{
    if (maxBytes > std::numeric_limits<qint64>::max() / 2)
        return false;
    const qint64 margin = maxBytes + maxBytes / 4;
    const qint64 raw = qint64(image.width()) * image.height() * (image.hasAlphaChannel() ? 4 : 3);
    return PngWriter::takes(image) && raw > margin && PngWriter::estimate(image) > margin;
}

bool everyPixelOpaque(const QImage& image)
{
    if (image.format() != QImage::Format_ARGB32 && image.format() != QImage::Format_ARGB32_Premultiplied)
        return false;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(row[x]) != 255)
                return false;
    }
    return true;
}

QImage flattenedOnWhite(const QImage& image)
{
    if (!image.hasAlphaChannel())
        return image.convertToFormat(QImage::Format_RGB32);
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, image);
    return flat;
}
} // namespace

std::optional<QImage> ImageStore::resized(const QImage& image, int longSide)
{
    if (image.isNull() || image.width() <= 0 || image.height() <= 0 || longSide <= 0)
        return std::nullopt;
    const double scale = double(longSide) / double(std::max(image.width(), image.height()));
    const int w = std::max(1, int(std::lround(image.width() * scale)));
    const int h = std::max(1, int(std::lround(image.height() * scale)));
    // 8 bits per component, whatever the source had; the formats the smooth scaler works in anyway.
    const auto eightBit =
        image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    QImage scaled =
        image.convertToFormat(eightBit).scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (scaled.isNull())
        return std::nullopt;
    return scaled;
}

std::optional<NormalisedImage> ImageStore::normalise(const QImage& image, int maxLongSide, qint64 maxBytes,
                                                     const QByteArray& sourcePng)
{
    if (image.isNull())
        return std::nullopt;
    QImage working = image;
    bool changed = false;
    if (maxLongSide > 0 && std::max(image.width(), image.height()) > maxLongSide) {
        auto scaled = resized(image, maxLongSide);
        if (!scaled)
            return std::nullopt;
        working = *scaled;
        changed = true;
    }
    // Screenshots often come with an alpha channel they do not use: without it the PNG is smaller and
    // quicker to write.
    if (working.hasAlphaChannel() && everyPixelOpaque(working)) {
        working = working.convertToFormat(QImage::Format_RGB32);
        changed = true;
    }
    // The fingerprint needs only the pixels: worked out beside the encoding.
    const QFuture<QString> print = QtConcurrent::run(&ImageStore::fingerprint, working);
    NormalisedImage out;
    out.width = working.width();
    out.height = working.height();
    out.format = QStringLiteral("png");
    // Encoding is the slowest step: a source file that already holds exactly these pixels is kept, unless
    // it is clearly larger than a new one would be.
    if (!changed && !sourcePng.isEmpty()) {
        const QByteArray kept = PngReader::pixelsOnly(sourcePng);
        const QFuture<QString> keptMd5 = QtConcurrent::run(&ImageStore::md5Hex, kept);
        if (!kept.isEmpty() && kept.size() <= maxBytes && kept.size() <= PngWriter::estimate(working) * 11 / 10) {
            out.bytes = kept;
            out.md5 = keptMd5.result();
        }
    }
    if (out.bytes.isEmpty() && !clearlyOverAsPng(working, maxBytes))
        out.bytes = encodePng(working);
    if (out.bytes.isEmpty() || out.bytes.size() > maxBytes) {
        out.format = QStringLiteral("jpg");
        out.bytes = encode(flattenedOnWhite(working), "jpeg", 85);
        if (out.bytes.isEmpty() || out.bytes.size() > maxBytes)
            return std::nullopt;
    }
    if (out.md5.isEmpty())
        out.md5 = md5Hex(out.bytes);
    out.fingerprint = print.result();
    return out;
}

QString ImageStore::md5Hex(const QByteArray& bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.constData(), size_t(bytes.size()), digest, &length, EVP_md5(), nullptr);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex());
}

QString ImageStore::fingerprint(const QImage& image)
{
    if (image.isNull())
        return QString(16, QLatin1Char('0'));
    // Scaling first and flattening the 72 pixels gives the same result as the other way round, for less.
    const QImage small = flattenedOnWhite(image.scaled(9, 8, Qt::IgnoreAspectRatio, Qt::SmoothTransformation))
                             .convertToFormat(QImage::Format_Grayscale8);
    quint64 bits = 0;
    for (int y = 0; y < 8; ++y) {
        const uchar* row = small.constScanLine(y);
        for (int x = 0; x < 8; ++x)
            bits = (bits << 1) | (row[x] < row[x + 1] ? 1u : 0u);
    }
    return QStringLiteral("%1").arg(bits, 16, 16, QLatin1Char('0'));
}

bool ImageStore::similar(const QString& a, const QString& b)
{
    bool okA = false, okB = false;
    const quint64 x = a.toULongLong(&okA, 16);
    const quint64 y = b.toULongLong(&okB, 16);
    return okA && okB && a.size() == 16 && b.size() == 16 && std::popcount(x ^ y) <= 6;
}
