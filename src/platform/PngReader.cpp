#include "platform/PngReader.h"

#include <QtEndian>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <libdeflate.h>
#include <memory>
#include <thread>
#include <vector>

namespace {
constexpr char signature[] = "\x89PNG\r\n\x1a\n";
constexpr qsizetype signatureBytes = 8;

struct Chunk {
    const uchar* type = nullptr;
    const uchar* data = nullptr;
    quint32 length = 0;
    qsizetype start = 0; // of its length field in the file
    qsizetype end = 0;   // past its checksum

    bool is(const char* name) const { return std::memcmp(type, name, 4) == 0; }
};

struct Header {
    quint32 width = 0;
    quint32 height = 0;
    int channels = 0;
};

// The chunk at `at`, when the file holds all of it.
std::optional<Chunk> chunkAt(const QByteArray& png, qsizetype at)
{
    if (at + 12 > png.size())
        return std::nullopt;
    const auto* bytes = reinterpret_cast<const uchar*>(png.constData());
    const quint32 length = qFromBigEndian<quint32>(bytes + at);
    if (length > 0x7fffffffu || qint64(length) > png.size() - at - 12)
        return std::nullopt;
    return Chunk{bytes + at + 4, bytes + at + 8, length, at, at + 12 + qsizetype(length)};
}

bool checksumHolds(const Chunk& chunk)
{
    const quint32 crc = libdeflate_crc32(0, chunk.type, size_t(chunk.length) + 4);
    return crc == qFromBigEndian<quint32>(chunk.data + chunk.length);
}

// The header of a file this reader takes: the first chunk, 8-bit RGB or RGBA, not interlaced.
std::optional<Header> headerOf(const QByteArray& png)
{
    if (png.size() < signatureBytes || std::memcmp(png.constData(), signature, signatureBytes) != 0)
        return std::nullopt;
    const auto ihdr = chunkAt(png, signatureBytes);
    if (!ihdr || !ihdr->is("IHDR") || ihdr->length != 13)
        return std::nullopt;
    const uchar* d = ihdr->data;
    const Header header{qFromBigEndian<quint32>(d), qFromBigEndian<quint32>(d + 4), d[9] == 6 ? 4 : 3};
    const bool taken = header.width > 0 && header.height > 0 && header.width <= 0x7fffffffu &&
                       header.height <= 0x7fffffffu && d[8] == 8 && (d[9] == 2 || d[9] == 6) && d[10] == 0 &&
                       d[11] == 0 && d[12] == 0;
    return taken ? std::optional(header) : std::nullopt;
}

// The chunks from the header to the end, checksums checked; none when the file is damaged or has a chunk that
// changes what its pixels mean (transparency for RGB).
std::optional<std::vector<Chunk>> chunksOf(const QByteArray& png)
{
    std::vector<Chunk> chunks;
    for (qsizetype at = signatureBytes;;) {
        const auto chunk = chunkAt(png, at);
        if (!chunk || chunk->is("tRNS"))
            return std::nullopt;
        const bool critical = (chunk->type[0] & 0x20) == 0;
        if (critical && !checksumHolds(*chunk))
            return std::nullopt;
        chunks.push_back(*chunk);
        if (chunk->is("IEND"))
            return chunks;
        at = chunk->end;
    }
}

// The Paeth filter undone pixel by pixel, each channel's left and upper-left neighbours kept at hand: the
// slowest filter to undo, and the one screenshot writers pick most after "up".
template <int bpp>
void unpaeth(uchar* row, const uchar* above, qsizetype n)
{
    int left[bpp], upperLeft[bpp];
    for (int k = 0; k < bpp; ++k) {
        left[k] = row[k] = uchar(row[k] + above[k]);
        upperLeft[k] = above[k];
    }
    for (qsizetype i = bpp; i < n; i += bpp) {
        for (int k = 0; k < bpp; ++k) {
            const int a = left[k], b = above[i + k], c = upperLeft[k];
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            const int predicted = pa <= pb ? (pa <= pc ? a : c) : (pb <= pc ? b : c);
            left[k] = row[i + k] = uchar(row[i + k] + predicted);
            upperLeft[k] = b;
        }
    }
}

// Undoes the row's filter in place; `above` is the row before, already undone (zeros for the first).
template <int bpp>
bool unfilter(uchar filter, uchar* row, const uchar* above, qsizetype n)
{
    switch (filter) {
    case 0:
        return true;
    case 1:
        for (qsizetype i = bpp; i < n; ++i)
            row[i] = uchar(row[i] + row[i - bpp]);
        return true;
    case 2:
        for (qsizetype i = 0; i < n; ++i)
            row[i] = uchar(row[i] + above[i]);
        return true;
    case 3:
        for (qsizetype i = 0; i < bpp; ++i)
            row[i] = uchar(row[i] + (above[i] >> 1));
        for (qsizetype i = bpp; i < n; ++i)
            row[i] = uchar(row[i] + ((row[i - bpp] + above[i]) >> 1));
        return true;
    case 4:
        unpaeth<bpp>(row, above, n);
        return true;
    }
    return false;
}

// Room for the inflated rows. Up to a cap, one buffer is kept per thread for the next picture: touching fresh
// pages costs about as much as inflating into them.
uchar* rowBuffer(size_t bytes, std::unique_ptr<uchar[]>& own)
{
    constexpr size_t keptBytes = size_t(32) << 20;
    thread_local std::unique_ptr<uchar[]> kept;
    thread_local size_t keptSize = 0;
    if (bytes > keptBytes) {
        own = std::make_unique_for_overwrite<uchar[]>(bytes);
        return own.get();
    }
    if (keptSize < bytes) {
        kept.reset();
        kept = std::make_unique_for_overwrite<uchar[]>(bytes);
        keptSize = bytes;
    }
    return kept.get();
}

// How many rows have their filters undone, handed from the thread that undoes them to the one that lays them out.
class RowProgress {
public:
    void publish(quint32 rows)
    {
        done.store(rows, std::memory_order_release);
        done.notify_one();
    }
    void abandon() { publish(abandoned); }
    // False when the picture was abandoned.
    bool waitFor(quint32 rows)
    {
        for (;;) {
            const quint32 now = done.load(std::memory_order_acquire);
            if (now == abandoned)
                return false;
            if (now >= rows)
                return true;
            done.wait(now, std::memory_order_acquire);
        }
    }

private:
    static constexpr quint32 abandoned = 0xffffffffu;
    std::atomic<quint32> done{0};
};

template <int bpp>
bool undoFilters(uchar* raw, qsizetype stride, quint32 height, RowProgress& progress)
{
    const std::vector<uchar> zeros(size_t(stride), 0);
    const uchar* above = zeros.data();
    for (quint32 y = 0; y < height; ++y) {
        uchar* row = raw + qsizetype(y) * (stride + 1);
        if (!unfilter<bpp>(row[0], row + 1, above, stride))
            return false;
        above = row + 1;
        if (y % 16 == 15)
            progress.publish(y + 1);
    }
    progress.publish(height);
    return true;
}

// Touches the picture's fresh pages first (while the stream inflates), then turns each row, once its filter is
// undone, into Qt's 32-bit pixels.
template <int bpp>
void layOut(const uchar* raw, QImage& image, RowProgress& progress)
{
    uchar* bits = image.bits();
    const qsizetype bytes = image.sizeInBytes();
    for (qsizetype at = 0; at < bytes; at += 4096)
        bits[at] = 0;
    const qsizetype stride = qsizetype(image.width()) * bpp;
    for (int y = 0; y < image.height(); ++y) {
        if (!progress.waitFor(quint32(y) + 1))
            return;
        auto* out = reinterpret_cast<QRgb*>(bits + qsizetype(y) * image.bytesPerLine());
        const uchar* p = raw + qsizetype(y) * (stride + 1) + 1;
        for (int x = 0; x < image.width(); ++x, p += bpp)
            out[x] = bpp == 4 ? qRgba(p[0], p[1], p[2], p[3]) : qRgb(p[0], p[1], p[2]);
    }
}

// Inflates and unfilters on this thread while another lays the rows out a little behind.
template <int bpp>
bool decode(const QByteArray& stream, uchar* raw, qsizetype rawBytes, QImage& image)
{
    RowProgress progress;
    bool done = false;
    {
        std::jthread layingOut([&] { layOut<bpp>(raw, image, progress); });
        const std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> inflater(
            libdeflate_alloc_decompressor(), &libdeflate_free_decompressor);
        done = inflater &&
               libdeflate_zlib_decompress(inflater.get(), stream.constData(), size_t(stream.size()), raw,
                                          size_t(rawBytes), nullptr) == LIBDEFLATE_SUCCESS &&
               undoFilters<bpp>(raw, qsizetype(image.width()) * bpp, quint32(image.height()), progress);
        if (!done)
            progress.abandon();
    }
    return done;
}
} // namespace

bool PngReader::takes(const QByteArray& png) { return headerOf(png).has_value(); }

std::optional<QImage> PngReader::read(const QByteArray& png, qint64 maxPixelBytes)
{
    const auto header = headerOf(png);
    if (!header || qint64(header->width) * header->height * 4 > maxPixelBytes)
        return std::nullopt;
    const auto chunks = chunksOf(png);
    if (!chunks)
        return std::nullopt;
    // The compressed stream, split over the IDAT chunks; when there is one, read where it lies.
    std::vector<const Chunk*> data;
    for (const Chunk& chunk : *chunks)
        if (chunk.is("IDAT"))
            data.push_back(&chunk);
    QByteArray stream;
    if (data.size() == 1)
        stream = QByteArray::fromRawData(reinterpret_cast<const char*>(data[0]->data), data[0]->length);
    else
        for (const Chunk* chunk : data)
            stream.append(reinterpret_cast<const char*>(chunk->data), chunk->length);
    const qsizetype rawBytes = qsizetype(header->height) * (qsizetype(header->width) * header->channels + 1);
    QImage image(int(header->width), int(header->height),
                 header->channels == 4 ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        return std::nullopt;
    std::unique_ptr<uchar[]> own;
    uchar* raw = rowBuffer(size_t(rawBytes), own);
    const bool decoded = header->channels == 4 ? decode<4>(stream, raw, rawBytes, image)
                                               : decode<3>(stream, raw, rawBytes, image);
    return decoded ? std::optional(image) : std::nullopt;
}

QByteArray PngReader::pixelsOnly(const QByteArray& png)
{
    if (!headerOf(png))
        return {};
    const auto chunks = chunksOf(png);
    if (!chunks)
        return {};
    QByteArray kept(signature, signatureBytes);
    for (const Chunk& chunk : *chunks)
        if (chunk.is("IHDR") || chunk.is("IDAT") || chunk.is("IEND"))
            kept.append(png.constData() + chunk.start, chunk.end - chunk.start);
    return kept;
}
