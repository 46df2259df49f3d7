#include "platform/x11/SystemClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImageReader>
#include <QMimeData>
#include <QPromise>

#include <algorithm>
#include <memory>

namespace {
// The offered image types a decoder knows, PNG first.
QList<QByteArray> imageTypes(const QStringList& offered)
{
    const QByteArray png = "image/png";
    QList<QByteArray> types;
    if (offered.contains(QString::fromLatin1(png)))
        types << png;
    const QList<QByteArray> decodable = QImageReader::supportedMimeTypes();
    for (const QString& type : offered) {
        const QByteArray name = type.toLatin1();
        if (name != png && decodable.contains(name))
            types << name;
    }
    return types;
}

// An image type offered with no text beside it: the copy was a picture, even when no decoder knows it.
QString pictureOnlyType(const QStringList& offered)
{
    QString image;
    for (const QString& type : offered) {
        if (type.startsWith(QLatin1String("text/")) || type == QLatin1String("UTF8_STRING") ||
            type == QLatin1String("STRING") || type == QLatin1String("TEXT"))
            return {};
        if (image.isEmpty() && type.startsWith(QLatin1String("image/")))
            image = type;
    }
    return image;
}
} // namespace

SystemClipboard::SystemClipboard(QObject* parent, std::chrono::milliseconds patience)
    : Clipboard(parent), reader(patience, qint64(imageLimitMB) << 20)
{
    QImageReader::setAllocationLimit(std::max(QImageReader::allocationLimit(), imageLimitMB));
    transfers.setMaxThreadCount(1);
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, [this] {
        ++count;
        Q_EMIT changed();
    });
}

SystemClipboard::~SystemClipboard()
{
    reader.cancel();
    transfers.waitForDone();
}

Outcome<ClipboardImage> SystemClipboard::readImage()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!data)
        return Outcome<ClipboardImage>::success({});
    const QList<QByteArray> types = imageTypes(data->formats());
    if (types.isEmpty()) {
        if (const QString type = pictureOnlyType(data->formats()); !type.isEmpty())
            return Outcome<ClipboardImage>::failure(
                QStringLiteral("剪贴板里的图片是 %1 格式，这台电脑读不了这种格式，没存").arg(type));
        return Outcome<ClipboardImage>::success({});
    }
    // A promise rather than a task's future: waiting for it never runs the transfer on the waiting thread.
    auto promise = std::make_shared<QPromise<Outcome<ClipboardImage::File>>>();
    promise->start();
    QFuture<Outcome<ClipboardImage::File>> file = promise->future();
    transfers.start([this, types, promise] {
        promise->addResult(receive(types));
        promise->finish();
    });
    return Outcome<ClipboardImage>::success(ClipboardImage::arriving(std::move(file)));
}

Outcome<ClipboardImage::File> SystemClipboard::receive(const QList<QByteArray>& types)
{
    for (const QByteArray& type : types) {
        const Outcome<QByteArray> bytes = reader.read(type);
        if (!bytes.ok())
            return Outcome<ClipboardImage::File>::failure(
                QStringLiteral("剪贴板里的图片没读到（%1），没存").arg(bytes.failure()));
        const QByteArray format = QImageReader::imageFormatsForMimeType(type).value(0);
        if (ClipboardImage::claimedSize(bytes.value(), format).isValid())
            return Outcome<ClipboardImage::File>::success({bytes.value(), format});
    }
    return Outcome<ClipboardImage::File>::failure(ClipboardImage::unreadableText({}));
}

void SystemClipboard::writeText(const QString& text)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(text, QClipboard::Clipboard);
    // xterm pastes the primary selection (Shift+Insert, the middle button), not the clipboard.
    if (clipboard->supportsSelection())
        clipboard->setText(text, QClipboard::Selection);
}

bool SystemClipboard::ownsClipboard() const { return QGuiApplication::clipboard()->ownsClipboard(); }
