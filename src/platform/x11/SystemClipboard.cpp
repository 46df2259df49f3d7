#include "platform/x11/SystemClipboard.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImageReader>
#include <QMimeData>

namespace {
QImage decode(const QByteArray& bytes, const QByteArray& format = {})
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    // Pixels are decoded whatever the file says about its format.
    reader.setDecideFormatFromContent(true);
    return reader.read();
}
} // namespace

SystemClipboard::SystemClipboard(QObject* parent) : Clipboard(parent)
{
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, [this] {
        ++count;
        Q_EMIT changed();
    });
}

QImage SystemClipboard::readImage()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!data)
        return {};
    const QStringList offered = data->formats();
    if (offered.contains(QStringLiteral("image/png"))) {
        const QImage image = decode(data->data(QStringLiteral("image/png")), "png");
        if (!image.isNull())
            return image;
    }
    const QList<QByteArray> decodable = QImageReader::supportedMimeTypes();
    for (const QString& type : offered) {
        if (type == QLatin1String("image/png") || !decodable.contains(type.toLatin1()))
            continue;
        const QImage image = decode(data->data(type));
        if (!image.isNull())
            return image;
    }
    return {};
}

void SystemClipboard::writeText(const QString& text)
{
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}

bool SystemClipboard::ownsClipboard() const { return QGuiApplication::clipboard()->ownsClipboard(); }
