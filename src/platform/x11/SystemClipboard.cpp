#include "platform/x11/SystemClipboard.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImageReader>
#include <QMimeData>

#include <algorithm>
#include <optional>

namespace {
struct Decoded {
    QImage image;
    QSize claimed; // what the file says, when it says it
};

Decoded decode(const QByteArray& bytes, const QByteArray& format = {})
{
    const auto [image, claimed] = ClipboardImage::decodeBytes(bytes, format);
    return {image, claimed};
}

// A PNG whose header reads and whose pixels fit the allocation limit is decoded later, off this thread.
bool decodesLater(const QByteArray& png)
{
    QBuffer buffer;
    buffer.setData(png);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    const QSize claimed = reader.size();
    const qint64 limit = qint64(QImageReader::allocationLimit()) * 1024 * 1024;
    // Up to 16 bytes a pixel: 16-bit channels with alpha.
    return reader.canRead() && claimed.isValid() && !claimed.isEmpty() &&
           qint64(claimed.width()) * claimed.height() * 16 <= limit;
}
} // namespace

SystemClipboard::SystemClipboard(QObject* parent) : Clipboard(parent)
{
    QImageReader::setAllocationLimit(std::max(QImageReader::allocationLimit(), imageLimitMB));
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, [this] {
        ++count;
        Q_EMIT changed();
    });
}

Outcome<ClipboardImage> SystemClipboard::readImage()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!data)
        return Outcome<ClipboardImage>::success({});
    const QStringList offered = data->formats();
    // An offered image that claimed a size but did not decode: said so unless another type decodes.
    std::optional<QSize> unreadable;
    auto take = [&](const Decoded& decoded) {
        if (decoded.image.isNull() && decoded.claimed.isValid() && !unreadable)
            unreadable = decoded.claimed;
        return !decoded.image.isNull();
    };
    if (offered.contains(QStringLiteral("image/png"))) {
        const QByteArray png = data->data(QStringLiteral("image/png"));
        if (decodesLater(png))
            return Outcome<ClipboardImage>::success(ClipboardImage::encoded(png, "png"));
        const Decoded decoded = decode(png, "png");
        if (take(decoded))
            return Outcome<ClipboardImage>::success(decoded.image);
    }
    const QList<QByteArray> decodable = QImageReader::supportedMimeTypes();
    for (const QString& type : offered) {
        if (type == QLatin1String("image/png") || !decodable.contains(type.toLatin1()))
            continue;
        const Decoded decoded = decode(data->data(type));
        if (take(decoded))
            return Outcome<ClipboardImage>::success(decoded.image);
    }
    if (unreadable)
        return Outcome<ClipboardImage>::failure(ClipboardImage::unreadableText(*unreadable));
    return Outcome<ClipboardImage>::success({});
}

void SystemClipboard::writeText(const QString& text)
{
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}

bool SystemClipboard::ownsClipboard() const { return QGuiApplication::clipboard()->ownsClipboard(); }
