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
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    // Pixels are decoded whatever the file says about its format.
    reader.setDecideFormatFromContent(true);
    Decoded decoded;
    decoded.claimed = reader.size();
    decoded.image = reader.read();
    return decoded;
}

QString unreadableText(const QSize& claimed)
{
    return QStringLiteral("剪贴板里的图片读不出来（%1×%2，太大或已损坏），没存").arg(claimed.width()).arg(claimed.height());
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

Outcome<QImage> SystemClipboard::readImage()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!data)
        return Outcome<QImage>::success({});
    const QStringList offered = data->formats();
    // An offered image that claimed a size but did not decode: said so unless another type decodes.
    std::optional<QSize> unreadable;
    auto take = [&](const Decoded& decoded) {
        if (decoded.image.isNull() && decoded.claimed.isValid() && !unreadable)
            unreadable = decoded.claimed;
        return !decoded.image.isNull();
    };
    if (offered.contains(QStringLiteral("image/png"))) {
        const Decoded decoded = decode(data->data(QStringLiteral("image/png")), "png");
        if (take(decoded))
            return Outcome<QImage>::success(decoded.image);
    }
    const QList<QByteArray> decodable = QImageReader::supportedMimeTypes();
    for (const QString& type : offered) {
        if (type == QLatin1String("image/png") || !decodable.contains(type.toLatin1()))
            continue;
        const Decoded decoded = decode(data->data(type));
        if (take(decoded))
            return Outcome<QImage>::success(decoded.image);
    }
    if (unreadable)
        return Outcome<QImage>::failure(unreadableText(*unreadable));
    return Outcome<QImage>::success({});
}

void SystemClipboard::writeText(const QString& text)
{
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}

bool SystemClipboard::ownsClipboard() const { return QGuiApplication::clipboard()->ownsClipboard(); }
