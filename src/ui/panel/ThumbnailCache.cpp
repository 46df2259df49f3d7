#include "ui/panel/ThumbnailCache.h"

#include "capture/ImageStore.h"

#include <QFuture>
#include <cmath>
#include <QImageReader>
#include <QtConcurrent>

namespace {
qint64 byteSize(const QPixmap& pixmap) { return qint64(pixmap.width()) * pixmap.height() * std::max(1, pixmap.depth() / 8); }
} // namespace

ThumbnailCache::ThumbnailCache(QObject* parent) : QObject(parent) { worker.setMaxThreadCount(1); }

ThumbnailCache::~ThumbnailCache() { worker.waitForDone(); }

QString ThumbnailCache::key(const Shot& shot) { return shot.localPath + QLatin1Char('#') + shot.hash; }

std::optional<QPixmap> ThumbnailCache::cached(const QString& key) const
{
    const auto found = entries.constFind(key);
    if (found == entries.constEnd())
        return std::nullopt;
    return *found;
}

QSize ThumbnailCache::bounded(const QSize& size)
{
    if (size.width() <= maxWidth && size.height() <= maxHeight)
        return size;
    const double scale = std::min(double(maxWidth) / size.width(), double(maxHeight) / size.height());
    // Rounded as the resize rounds, so a picture decoded straight to this size is not resized again.
    return QSize(std::max(1, int(std::lround(size.width() * scale))), std::max(1, int(std::lround(size.height() * scale))));
}

QImage ThumbnailCache::decode(const QString& path)
{
    QImageReader reader(path);
    const QSize full = reader.size();
    // Formats that can decode straight to a smaller size (JPEG) never hold the full picture.
    if (full.isValid() && bounded(full) != full && reader.supportsOption(QImageIOHandler::ScaledSize))
        reader.setScaledSize(bounded(full));
    const QImage image = reader.read();
    if (image.isNull())
        return {};
    const QSize target = bounded(image.size());
    if (target == image.size())
        return image;
    if (auto resized = ImageStore::resized(image, std::max(target.width(), target.height())))
        return *resized;
    return image.scaled(target, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

void ThumbnailCache::request(const Shot& shot, QObject* receiver, Done done)
{
    const QString k = key(shot);
    if (const auto hit = cached(k)) {
        done(*hit);
        return;
    }
    auto& list = waiting[k];
    if (list.isEmpty()) {
        queue << k;
        paths.insert(k, shot.localPath);
    }
    list.append(Waiter{receiver, std::move(done)});
    startNext();
}

void ThumbnailCache::startNext()
{
    while (!busy && !queue.isEmpty()) {
        const QString k = queue.takeFirst();
        const QString path = paths.take(k);
        QList<Waiter>& list = waiting[k];
        list.removeIf([](const Waiter& w) { return w.receiver.isNull(); });
        if (list.isEmpty()) {
            waiting.remove(k);
            continue;
        }
        busy = true;
        QtConcurrent::run(&worker, &ThumbnailCache::decode, path).then(this, [this, k](const QImage& image) {
            busy = false;
            finish(k, image);
            startNext();
        });
    }
}

void ThumbnailCache::finish(const QString& k, const QImage& image)
{
    const QPixmap pixmap = image.isNull() ? QPixmap() : QPixmap::fromImage(image);
    // An unreadable file is not cached: a later request tries again.
    if (!pixmap.isNull())
        store(k, pixmap);
    const QList<Waiter> list = waiting.take(k);
    for (const Waiter& waiter : list)
        if (!waiter.receiver.isNull())
            waiter.done(pixmap);
}

void ThumbnailCache::store(const QString& k, const QPixmap& pixmap)
{
    const qint64 size = byteSize(pixmap);
    if (entries.size() >= maxEntries || used + size > maxBytes) {
        entries.clear();
        used = 0;
    }
    entries.insert(k, pixmap);
    used += size;
}
