#include "ui/panel/ThumbnailCache.h"

#include <QFile>
#include <QImage>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

class ThumbnailCacheTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    QString picture(QSize size, const QString& name)
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        const QString path = dir.filePath(name);
        image.save(path, "PNG");
        return path;
    }

    static Shot shot(const QString& path, const QString& hash)
    {
        Shot s;
        s.localPath = path;
        s.hash = hash;
        return s;
    }

    // Waits for the thumbnail of one request.
    static QPixmap load(ThumbnailCache& cache, const Shot& s)
    {
        std::optional<QPixmap> result;
        QObject receiver;
        cache.request(s, &receiver, [&result](const QPixmap& p) { result = p; });
        if (!QTest::qWaitFor([&result] { return result.has_value(); }, 10000))
            qFatal("no thumbnail");
        return *result;
    }

private Q_SLOTS:
    void boundedInWidthAndHeight_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QSize>("thumbnail");
        QTest::newRow("exactly 420 wide") << QSize(420, 300) << QSize(420, 300);
        QTest::newRow("421 wide") << QSize(421, 100) << QSize(420, 100);
        QTest::newRow("portrait") << QSize(500, 2000) << QSize(210, 840);
        QTest::newRow("narrow and very tall") << QSize(400, 50000) << QSize(7, 840);
    }

    void boundedInWidthAndHeight()
    {
        QFETCH(QSize, size);
        ThumbnailCache cache;
        const QPixmap thumbnail = load(cache, shot(picture(size, QStringLiteral("p.png")), QStringLiteral("h")));
        QTEST(thumbnail.size(), "thumbnail");
    }

    // The 66th key empties the cache first; one path with two contents is two entries; the bytes stay bounded.
    void entriesAndBytesBounded()
    {
        ThumbnailCache cache;
        const QString small = picture(QSize(40, 30), QStringLiteral("small.png"));
        for (int i = 0; i < 65; ++i)
            load(cache, shot(small, QString::number(i)));
        QCOMPARE(cache.size(), 65);
        QVERIFY(cache.cached(ThumbnailCache::key(shot(small, QStringLiteral("0")))));
        load(cache, shot(small, QStringLiteral("new")));
        QCOMPARE(cache.size(), 1);

        const QString tall = picture(QSize(420, 840), QStringLiteral("tall.png"));
        for (int i = 0; i < 50; ++i) {
            load(cache, shot(tall, QString::number(i)));
            QVERIFY(cache.bytes() <= ThumbnailCache::maxBytes);
        }
    }

    // Not an image: nothing, nothing cached, and the next request reads the file again.
    void unreadableIsRetried()
    {
        ThumbnailCache cache;
        const QString path = dir.filePath(QStringLiteral("late.png"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a picture");
        file.close();
        QVERIFY(load(cache, shot(path, QStringLiteral("x"))).isNull());
        QCOMPARE(cache.size(), 0);
        QFile::remove(path);
        QImage(QSize(10, 10), QImage::Format_RGB32).save(path, "PNG");
        QCOMPARE(load(cache, shot(path, QStringLiteral("x"))).size(), QSize(10, 10));
    }

    // A card that went away before its picture was ready gets nothing.
    void goneReceiverGetsNothing()
    {
        ThumbnailCache cache;
        const QString path = picture(QSize(800, 600), QStringLiteral("gone.png"));
        bool called = false;
        auto* card = new QObject;
        cache.request(shot(path, QStringLiteral("a")), card, [&called](const QPixmap&) { called = true; });
        delete card;
        load(cache, shot(path, QStringLiteral("b"))); // served after the first on the one worker
        QVERIFY(!called);
    }
};

QTEST_MAIN(ThumbnailCacheTest)
#include "ThumbnailCacheTest.moc"
