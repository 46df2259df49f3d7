#pragma once

#include "state/Shot.h"

#include <QHash>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QStringList>
#include <QThreadPool>
#include <functional>
#include <optional>

// The pictures of the shot cards. Files are decoded one at a time on one worker thread (QImage there,
// QPixmap here on the GUI thread), reduced to fit 420 x 840 pixels, and kept by path and content hash, so
// re-rendering and scrolling back decode nothing. The cache is bounded in entries (a new one while 65 are
// held empties it first) and in bytes, whatever the shape of the shots. GUI thread only.
class ThumbnailCache : public QObject {
    Q_OBJECT
public:
    static constexpr int maxWidth = 420;
    static constexpr int maxHeight = 840;
    static constexpr int maxEntries = 65;
    static constexpr qint64 maxBytes = 48ll << 20;

    using Done = std::function<void(const QPixmap&)>;

    explicit ThumbnailCache(QObject* parent = nullptr);
    ~ThumbnailCache() override;

    static QString key(const Shot& shot);
    std::optional<QPixmap> cached(const QString& key) const;
    // Delivers the shot's thumbnail (a null pixmap when the file is not an image) to `done` on this thread,
    // unless `receiver` is gone by then. Requests for one key share one decode; a key nobody waits for any
    // more is not decoded.
    void request(const Shot& shot, QObject* receiver, Done done);

    int size() const { return int(entries.size()); }
    qint64 bytes() const { return used; }
    // Decodes and reduces as the worker does.
    static QImage decode(const QString& path);
    static QSize bounded(const QSize& size);

private:
    struct Waiter {
        QPointer<QObject> receiver;
        Done done;
    };

    void startNext();
    void finish(const QString& key, const QImage& image);
    void store(const QString& key, const QPixmap& pixmap);

    QThreadPool worker;
    QHash<QString, QPixmap> entries;
    qint64 used = 0;
    QHash<QString, QList<Waiter>> waiting;
    QHash<QString, QString> paths;
    QStringList queue;
    bool busy = false;
};
