#include "platform/PngReader.h"

#include <QtEndian>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <libdeflate.h>
#include <memory>
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
void unpaeth(const uchar* in, uchar* out, const uchar* above, qsizetype n)
{
    int left[bpp], upperLeft[bpp];
    for (int k = 0; k < bpp; ++k) {
        left[k] = out[k] = uchar(in[k] + above[k]);
        upperLeft[k] = above[k];
    }
    for (qsizetype i = bpp; i < n; i += bpp) {
        for (int k = 0; k < bpp; ++k) {
            const int a = left[k], b = above[i + k], c = upperLeft[k];
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            const int predicted = pa <= pb ? (pa <= pc ? a : c) : (pb <= pc ? b : c);
            left[k] = out[i + k] = uchar(in[i + k] + predicted);
            upperLeft[k] = b;
        }
    }
}

// Undoes a row's filter from `in` into `out` (which may be `in`); `above` is the row before, already undone
// (zeros for the first).
template <int bpp>
bool unfilter(uchar filter, const uchar* in, uchar* out, const uchar* above, qsizetype n)
{
    switch (filter) {
    case 0:
        if (in != out)
            std::memcpy(out, in, size_t(n));
        return true;
    case 1:
        for (qsizetype i = 0; i < n; ++i)
            out[i] = uchar(in[i] + (i >= bpp ? out[i - bpp] : 0));
        return true;
    case 2:
        for (qsizetype i = 0; i < n; ++i)
            out[i] = uchar(in[i] + above[i]);
        return true;
    case 3:
        for (qsizetype i = 0; i < n; ++i)
            out[i] = uchar(in[i] + (((i >= bpp ? out[i - bpp] : 0) + above[i]) >> 1));
        return true;
    case 4:
        unpaeth<bpp>(in, out, above, n);
        return true;
    }
    return false;
}

// Makes the pages of [start, start + bytes) present in one go: faulting them in one at a time costs about as much
// as inflating into them. An older kernel refuses, and the pages come on first touch as usual.
void populate(void* start, size_t bytes)
{
    constexpr uintptr_t page = 4096;
    const uintptr_t first = (reinterpret_cast<uintptr_t>(start) + page - 1) & ~(page - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(start) + bytes) & ~(page - 1);
    if (end > first)
        ::madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
}

// Undoes every row's filter: in place for RGB, where the picture is then laid over the rows (each after its filter
// byte); into a picture of its own for RGBA, whose 32-bit rows Qt wants aligned.
template <int bpp>
bool undoFilters(uchar* raw, QImage* into, qsizetype stride, quint32 height)
{
    const std::vector<uchar> zeros(size_t(stride), 0);
    const uchar* above = zeros.data();
    for (quint32 y = 0; y < height; ++y) {
        uchar* row = raw + qsizetype(y) * (stride + 1);
        uchar* out = into ? into->scanLine(int(y)) : row + 1;
        if (!unfilter<bpp>(row[0], row + 1, out, above, stride))
            return false;
        above = out;
    }
    return true;
}
} // namespace

bool PngReader::takes(const QByteArray& png) { return headerOf(png).has_value(); }

std::optional<QImage> PngReader::read(const QByteArray& png, qint64 maxPixelBytes)
{
    const auto header = headerOf(png);
    // Both sides are below 2^31, so their product fits; four bytes of it would not.
    if (!header || qint64(header->width) * header->height > maxPixelBytes / 4)
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
    const qsizetype stride = qsizetype(header->width) * header->channels;
    const qsizetype rawBytes = qsizetype(header->height) * (stride + 1);
    std::unique_ptr<uchar, void (*)(void*)> raw(static_cast<uchar*>(std::malloc(size_t(rawBytes))), &std::free);
    if (!raw)
        return std::nullopt;
    populate(raw.get(), size_t(rawBytes));
    QImage image;
    if (header->channels == 4) {
        image = QImage(int(header->width), int(header->height), QImage::Format_RGBA8888);
        if (image.isNull())
            return std::nullopt;
        populate(image.bits(), size_t(image.sizeInBytes()));
    }
    const std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> inflater(
        libdeflate_alloc_decompressor(), &libdeflate_free_decompressor);
    const bool decoded =
        inflater &&
        libdeflate_zlib_decompress(inflater.get(), stream.constData(), size_t(stream.size()), raw.get(),
                                   size_t(rawBytes), nullptr) == LIBDEFLATE_SUCCESS &&
        (header->channels == 4 ? undoFilters<4>(raw.get(), &image, stride, header->height)
                               : undoFilters<3>(raw.get(), nullptr, stride, header->height));
    if (!decoded)
        return std::nullopt;
    if (header->channels == 4)
        return image;
    uchar* rows = raw.release();
    image = QImage(rows + 1, int(header->width), int(header->height), stride + 1, QImage::Format_RGB888,
                   [](void* buffer) { std::free(buffer); }, rows);
    if (image.isNull())
        std::free(rows);
    return image.isNull() ? std::nullopt : std::optional(image);
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
