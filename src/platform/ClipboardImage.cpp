#include "platform/ClipboardImage.h"

#include "platform/PngReader.h"

#include <QBuffer>
#include <QImageReader>

ClipboardImage ClipboardImage::encoded(QByteArray bytes, QByteArray format)
{
    if (bytes.isEmpty())
        return {};
    return arriving(QtFuture::makeReadyFuture(Outcome<File>::success({std::move(bytes), std::move(format)})));
}

ClipboardImage ClipboardImage::arriving(QFuture<Outcome<File>> file)
{
    ClipboardImage image;
    image.file = std::move(file);
    return image;
}

Outcome<QImage> ClipboardImage::decode() const
{
    if (!file.isValid())
        return Outcome<QImage>::success(pixels);
    const Outcome<File> arrived = file.result();
    if (!arrived.ok())
        return Outcome<QImage>::failure(arrived.failure());
    const auto [decoded, claimed] = decodeBytes(arrived.value().bytes, arrived.value().format);
    if (decoded.isNull())
        return Outcome<QImage>::failure(unreadableText(claimed));
    return Outcome<QImage>::success(decoded);
}

namespace {
// `reader` set to read `bytes`; the content decides the format, whatever the offered type says.
void readerOver(const QByteArray& bytes, const QByteArray& format, QBuffer& buffer, QImageReader& reader)
{
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    reader.setDevice(&buffer);
    reader.setFormat(format);
    reader.setDecideFormatFromContent(true);
}
} // namespace

std::pair<QImage, QSize> ClipboardImage::decodeBytes(const QByteArray& bytes, const QByteArray& format)
{
    // Most clipboard PNGs take the fast reader; Qt's reads every other file, and names the damaged ones.
    const qint64 limitMB = QImageReader::allocationLimit(); // 0: none
    if (PngReader::takes(bytes))
        if (auto fast = PngReader::read(bytes, limitMB > 0 ? limitMB * 1024 * 1024 : INT64_MAX))
            return {*fast, fast->size()};
    QBuffer buffer;
    QImageReader reader;
    readerOver(bytes, format, buffer, reader);
    const QSize claimed = reader.size();
    return {reader.read(), claimed};
}

QSize ClipboardImage::claimedSize(const QByteArray& bytes, const QByteArray& format)
{
    QBuffer buffer;
    QImageReader reader;
    readerOver(bytes, format, buffer, reader);
    const QSize claimed = reader.size();
    return reader.canRead() && claimed.isValid() && !claimed.isEmpty() ? claimed : QSize();
}

QByteArray ClipboardImage::pngFile() const
{
    if (!file.isValid())
        return {};
    const Outcome<File> arrived = file.result();
    return arrived.ok() && arrived.value().format == "png" ? arrived.value().bytes : QByteArray();
}

QString ClipboardImage::unreadableText(const QSize& claimed)
{
    if (!claimed.isValid())
        return QStringLiteral("剪贴板里的图片读不出来（已损坏），没存");
    return QStringLiteral("剪贴板里的图片读不出来（%1×%2，太大或已损坏），没存").arg(claimed.width()).arg(claimed.height());
}
