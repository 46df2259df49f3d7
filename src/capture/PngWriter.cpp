#include "capture/PngWriter.h"

#include <QtConcurrent/QtConcurrentMap>
#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <vector>
#include <zlib.h>

namespace {
constexpr int bandRows = 64;
constexpr int sampleRows = 16;
constexpr int sampleEvery = 8; // one sample band in so many
// Bands that come out under this share of their raw size at the fastest level are flat (runs of one colour):
// there the lazy matching of level 4 halves the output for little time.
constexpr qint64 flatPercent = 4;
constexpr int fastLevel = 1;
constexpr int flatLevel = 4;

struct Band {
    int first = 0;
    int rows = 0;
    bool last = false;
    QByteArray deflated;
    uLong adler = 1;
    qint64 rawBytes = 0;
};

int channels(const QImage& image) { return image.hasAlphaChannel() ? 4 : 3; }

bool inFileOrder(const QImage& image)
{
    return image.format() == QImage::Format_RGB888 || image.format() == QImage::Format_RGBA8888;
}

// One row as PNG wants it: R G B [A], not premultiplied.
void unpack(const QImage& image, int y, uchar* out)
{
    if (inFileOrder(image)) {
        std::memcpy(out, image.constScanLine(y), size_t(image.width()) * size_t(channels(image)));
        return;
    }
    const auto* pixels = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    const bool alpha = image.hasAlphaChannel();
    for (int x = 0; x < image.width(); ++x) {
        const QRgb p = pixels[x];
        *out++ = uchar(qRed(p));
        *out++ = uchar(qGreen(p));
        *out++ = uchar(qBlue(p));
        if (alpha)
            *out++ = uchar(qAlpha(p));
    }
}

// Filters and deflates rows [first, first + rows): raw deflate, ended by a sync flush (or the stream's end
// for the last band), so bands can be joined.
void deflateBand(const QImage& image, Band& band, int level = fastLevel)
{
    const qsizetype stride = qsizetype(image.width()) * channels(image);
    const size_t width = size_t(stride);
    std::vector<uchar> above(width, 0);
    std::vector<uchar> row(width);
    std::vector<uchar> filtered(width + 1);
    if (band.first > 0)
        unpack(image, band.first - 1, above.data());
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    band.adler = 1;
    band.deflated.resize(qsizetype(deflateBound(&z, uLong(band.rows * (stride + 1)))) + 64);
    z.next_out = reinterpret_cast<Bytef*>(band.deflated.data());
    z.avail_out = uInt(band.deflated.size());
    // Deflates what is given; grows the output when it fills (a flush can add a few bytes over the bound).
    const auto pump = [&](int flush) {
        for (;;) {
            if (z.avail_out == 0) {
                band.deflated.resize(band.deflated.size() * 2);
                z.next_out = reinterpret_cast<Bytef*>(band.deflated.data()) + z.total_out;
                z.avail_out = uInt(band.deflated.size() - qsizetype(z.total_out));
            }
            deflate(&z, flush);
            if (z.avail_in == 0 && z.avail_out != 0)
                return;
        }
    };
    filtered[0] = 2; // "up": each byte less the one above it
    for (int i = 0; i < band.rows; ++i) {
        unpack(image, band.first + i, row.data());
        for (qsizetype b = 0; b < stride; ++b)
            filtered[size_t(b) + 1] = uchar(row[size_t(b)] - above[size_t(b)]);
        row.swap(above);
        band.adler = adler32(band.adler, filtered.data(), uInt(filtered.size()));
        z.next_in = filtered.data();
        z.avail_in = uInt(filtered.size());
        const bool end = i + 1 == band.rows;
        pump(end ? (band.last ? Z_FINISH : Z_SYNC_FLUSH) : Z_NO_FLUSH);
    }
    band.rawBytes = qint64(band.rows) * (stride + 1);
    band.deflated.truncate(qsizetype(z.total_out));
    deflateEnd(&z);
}

void deflateAtItsLevel(const QImage& image, Band& band)
{
    deflateBand(image, band);
    if (qint64(band.deflated.size()) * 100 < band.rawBytes * flatPercent)
        deflateBand(image, band, flatLevel);
}

void appendChunk(QByteArray& png, const char* type, const QByteArray& data)
{
    uchar length[4];
    qToBigEndian(quint32(data.size()), length);
    png.append(reinterpret_cast<const char*>(length), 4);
    const qsizetype start = png.size();
    png.append(type, 4);
    png.append(data);
    uchar crc[4];
    qToBigEndian(quint32(crc32(0, reinterpret_cast<const Bytef*>(png.constData() + start), uInt(data.size() + 4))),
                 crc);
    png.append(reinterpret_cast<const char*>(crc), 4);
}

QImage straight(const QImage& image)
{
    if (image.format() == QImage::Format_ARGB32_Premultiplied)
        return image.convertToFormat(QImage::Format_ARGB32);
    return image;
}
} // namespace

bool PngWriter::takes(const QImage& image)
{
    const auto f = image.format();
    return !image.isNull() && (f == QImage::Format_RGB32 || f == QImage::Format_ARGB32 ||
                               f == QImage::Format_ARGB32_Premultiplied || inFileOrder(image));
}

QByteArray PngWriter::encode(const QImage& source)
{
    if (!takes(source))
        return {};
    const QImage image = straight(source);
    std::vector<Band> bands;
    for (int first = 0; first < image.height(); first += bandRows)
        bands.push_back(Band{first, std::min(bandRows, image.height() - first), false, {}, 1, 0});
    bands.back().last = true;
    QtConcurrent::blockingMap(bands, [&](Band& band) { deflateAtItsLevel(image, band); });

    QByteArray stream("\x78\x01", 2); // zlib header: deflate, 32 KB window, fastest
    uLong adler = 1;
    for (const Band& band : bands) {
        stream.append(band.deflated);
        adler = adler32_combine(adler, band.adler, z_off_t(band.rawBytes));
    }
    uchar trailer[4];
    qToBigEndian(quint32(adler), trailer);
    stream.append(reinterpret_cast<const char*>(trailer), 4);

    QByteArray header(13, '\0');
    qToBigEndian(quint32(image.width()), header.data());
    qToBigEndian(quint32(image.height()), header.data() + 4);
    header[8] = 8;                                 // bits per sample
    header[9] = char(channels(image) == 4 ? 6 : 2); // RGBA or RGB
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    png.reserve(stream.size() + 128);
    appendChunk(png, "IHDR", header);
    constexpr qsizetype chunkBytes = 1 << 20;
    for (qsizetype at = 0; at < stream.size(); at += chunkBytes)
        appendChunk(png, "IDAT", stream.mid(at, chunkBytes));
    appendChunk(png, "IEND", {});
    return png;
}

qint64 PngWriter::estimate(const QImage& source)
{
    if (!takes(source))
        return 0;
    const QImage image = straight(source);
    std::vector<Band> samples;
    for (int first = 0; first < image.height(); first += sampleRows * sampleEvery)
        samples.push_back(Band{first, std::min(sampleRows, image.height() - first), false, {}, 1, 0});
    QtConcurrent::blockingMap(samples, [&](Band& band) { deflateAtItsLevel(image, band); });
    qint64 deflated = 0, rows = 0;
    for (const Band& band : samples) {
        deflated += band.deflated.size();
        rows += band.rows;
    }
    return deflated * image.height() / std::max<qint64>(1, rows);
}
