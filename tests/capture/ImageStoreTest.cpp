#include "capture/ImageStore.h"
#include "platform/ClipboardImage.h"
#include "platform/PngReader.h"
#include "support/TestImages.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QtTest>

namespace {
using TestImages::screenshot;

// Smooth colours with a little noise: PNG keeps it poorly, JPEG well.
QImage photoLike(int w, int h, bool transparentTop = false)
{
    QImage image(w, h, QImage::Format_ARGB32);
    QRandomGenerator random(11);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int n = int(random.bounded(24));
            const int alpha = transparentTop && y < h / 2 ? 0 : 255;
            row[x] = qRgba((x * 200 / w + n) % 256, (y * 200 / h + n) % 256, (x + y + n) % 256, alpha);
        }
    }
    return image;
}

int pixelDistance(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}
} // namespace

class ImageStoreTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void resizedRoundsEachSideAndKeepsOne_data()
    {
        QTest::addColumn<QSize>("from");
        QTest::addColumn<int>("longSide");
        QTest::addColumn<QSize>("to"); // invalid: refused
        QTest::newRow("rounds down") << QSize(1000, 333) << 100 << QSize(100, 33);
        QTest::newRow("rounds half up") << QSize(1000, 335) << 100 << QSize(100, 34);
        QTest::newRow("portrait") << QSize(335, 1000) << 100 << QSize(34, 100);
        QTest::newRow("thin keeps one") << QSize(10000, 2) << 100 << QSize(100, 1);
        QTest::newRow("enlarges") << QSize(50, 20) << 100 << QSize(100, 40);
        QTest::newRow("no pixels") << QSize(0, 10) << 100 << QSize();
        QTest::newRow("no long side") << QSize(10, 10) << 0 << QSize();
    }

    void resizedRoundsEachSideAndKeepsOne()
    {
        QFETCH(QSize, from);
        QFETCH(int, longSide);
        QFETCH(QSize, to);
        QImage image(from, QImage::Format_RGBA64); // 16 bits per component in, 8 out
        image.fill(Qt::darkCyan);
        const auto scaled = ImageStore::resized(image, longSide);
        QCOMPARE(scaled.has_value(), to.isValid());
        if (!scaled)
            return;
        QCOMPARE(scaled->size(), to);
        QCOMPARE(scaled->depth(), 32);
        const QRgb middle = scaled->pixel(to.width() / 2, to.height() / 2);
        QVERIFY(pixelDistance(middle, QColor(Qt::darkCyan).rgb()) <= 1);
    }

    void normaliseReducesTheLongSideOnlyWhenOver()
    {
        const QImage wide = screenshot(3000, 1000, 1);
        auto out = ImageStore::normalise(wide, 2560, 50'000'000);
        QVERIFY(out);
        QCOMPARE(QSize(out->width, out->height), QSize(2560, 853));
        QCOMPARE(QImage::fromData(out->bytes).size(), QSize(2560, 853));

        // Under the limit, at it, or no limit at all: as it came.
        for (int longSide : {3200, 3000, 0}) {
            out = ImageStore::normalise(wide, longSide, 50'000'000);
            QCOMPARE(QSize(out->width, out->height), QSize(3000, 1000));
        }
    }

    void normaliseKeepsPngLosslessUnderTheLimit()
    {
        QImage image = photoLike(300, 200, true);
        const auto out = ImageStore::normalise(image, 2560, 5'000'000);
        QVERIFY(out);
        QCOMPARE(out->format, QStringLiteral("png"));
        const QImage stored = QImage::fromData(out->bytes, "png");
        QVERIFY(stored.hasAlphaChannel());
        QCOMPARE(stored.convertToFormat(QImage::Format_ARGB32), image);

        // Exactly at the limit still counts as under it.
        const auto atLimit = ImageStore::normalise(image, 2560, out->bytes.size());
        QVERIFY(atLimit);
        QCOMPARE(atLimit->format, QStringLiteral("png"));
    }

    void normaliseDropsAnUnusedAlphaChannel()
    {
        const QImage opaque = screenshot(400, 300, 1).convertToFormat(QImage::Format_ARGB32);
        const auto out = ImageStore::normalise(opaque, 2560, 5'000'000);
        QVERIFY(out);
        const QImage stored = QImage::fromData(out->bytes, "png");
        QVERIFY(!stored.hasAlphaChannel());
        QCOMPARE(stored.convertToFormat(QImage::Format_ARGB32), opaque);
        // One transparent pixel keeps it.
        QImage almost = opaque;
        almost.setPixel(399, 299, qRgba(0, 0, 0, 254));
        QVERIFY(QImage::fromData(ImageStore::normalise(almost, 2560, 5'000'000)->bytes).hasAlphaChannel());
    }

    void normaliseFallsBackToJpegOnWhite()
    {
        const QImage image = photoLike(800, 600, true);
        const auto png = ImageStore::normalise(image, 2560, 50'000'000);
        QVERIFY(png);
        QCOMPARE(png->format, QStringLiteral("png"));

        const auto jpg = ImageStore::normalise(image, 2560, png->bytes.size() - 1);
        QVERIFY(jpg);
        QCOMPARE(jpg->format, QStringLiteral("jpg"));
        QCOMPARE(jpg->md5, ImageStore::md5Hex(jpg->bytes));
        QVERIFY(jpg->bytes.size() < png->bytes.size());
        const QImage stored = QImage::fromData(jpg->bytes, "jpeg");
        QCOMPARE(stored.size(), QSize(800, 600));
        QVERIFY(!stored.hasAlphaChannel());
        // The transparent half is white, not black; the opaque half keeps its colours.
        QVERIFY(pixelDistance(stored.pixel(400, 100), qRgb(255, 255, 255)) <= 8);
        QVERIFY(pixelDistance(stored.pixel(400, 450), image.pixel(400, 450)) <= 40);

        // Still too large as JPEG, or nothing to encode: refused.
        QVERIFY(!ImageStore::normalise(image, 2560, 1000));
        QVERIFY(!ImageStore::normalise(QImage(), 2560, 5'000'000));
    }

    // A clipboard PNG is kept as it came (less its metadata) only when it holds exactly what would be stored
    // and is not clearly larger than a new file.
    void aSourcePngIsKeptOnlyWhenNothingChanges_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<int>("quality"); // Qt's writer: 100 leaves the pixels uncompressed
        QTest::addColumn<int>("longSide");
        QTest::addColumn<bool>("kept");
        const QImage screen = screenshot(640, 400, 1);
        QTest::newRow("as it is") << screen << -1 << 2560 << true;
        QTest::newRow("with alpha it uses") << photoLike(300, 200, true) << -1 << 2560 << true;
        QTest::newRow("scaled down") << screen << -1 << 320 << false;
        QTest::newRow("alpha unused") << screen.convertToFormat(QImage::Format_ARGB32) << -1 << 2560 << false;
        QTest::newRow("hardly compressed") << screen << 100 << 2560 << false;
    }

    void aSourcePngIsKeptOnlyWhenNothingChanges()
    {
        QFETCH(QImage, image);
        QFETCH(int, quality);
        QFETCH(int, longSide);
        QFETCH(bool, kept);
        const QByteArray source = TestImages::qtPng(image, quality, QStringLiteral("private note"));
        const QImage decoded = ClipboardImage::encoded(source, "png").decode().value(); // as the file holds it

        const auto out = ImageStore::normalise(decoded, longSide, 50'000'000, source);
        QVERIFY(out);
        QCOMPARE(out->bytes == PngReader::pixelsOnly(source), kept);
        QVERIFY(!out->bytes.contains("private note"));
        QCOMPARE(out->md5, ImageStore::md5Hex(out->bytes));
        const auto fresh = ImageStore::normalise(image, longSide, 50'000'000); // Qt's 32-bit pixels
        QCOMPARE(out->fingerprint, fresh->fingerprint);
        QCOMPARE(QImage::fromData(out->bytes, "png"), QImage::fromData(fresh->bytes, "png"));
        // Over the byte limit it is not kept either.
        if (kept)
            QVERIFY(ImageStore::normalise(decoded, longSide, out->bytes.size() - 1, source)->bytes != out->bytes);
    }

    // The state file keeps this digest of every shot: it stays the standard MD5.
    void md5IsTheStandardDigest() { QCOMPARE(ImageStore::md5Hex("abc"), QStringLiteral("900150983cd24fb0d6963f7d28e17f72")); }

    void fingerprintSimilarity()
    {
        const QImage base = screenshot(1280, 800, 1);
        const QString print = ImageStore::fingerprint(base);
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{16}$")).match(print).hasMatch());

        // A few changed characters, or the same screen at another size: similar.
        QImage edited = base;
        QPainter(&edited).fillRect(700, 300, 40, 12, Qt::black);
        QVERIFY(ImageStore::similar(print, ImageStore::fingerprint(edited)));
        QVERIFY(ImageStore::similar(print, ImageStore::fingerprint(*ImageStore::resized(base, 640))));
        const auto stored = ImageStore::normalise(base, 2560, 5'000'000);
        QCOMPARE(stored->fingerprint, print);

        // Another screen, or a photo: not similar.
        const QImage otherScreen = screenshot(1280, 800, 2).mirrored(true, false);
        QVERIFY(!ImageStore::similar(print, ImageStore::fingerprint(otherScreen)));
        QVERIFY(!ImageStore::similar(print, ImageStore::fingerprint(base.mirrored(true, true))));
    }

    void fingerprintSeesTransparencyAsWhite()
    {
        QImage clear(200, 100, QImage::Format_ARGB32);
        clear.fill(Qt::transparent);
        QPainter(&clear).fillRect(0, 0, 100, 100, Qt::black);
        QImage white(200, 100, QImage::Format_RGB32);
        white.fill(Qt::white);
        QPainter(&white).fillRect(0, 0, 100, 100, Qt::black);
        QCOMPARE(ImageStore::fingerprint(clear), ImageStore::fingerprint(white));
    }

    void similarNeedsTwoWellFormedPrints()
    {
        // Hamming distance 6 is similar, 7 is not.
        QVERIFY(ImageStore::similar(QStringLiteral("0000000000000000"), QStringLiteral("000000000000003f")));
        QVERIFY(!ImageStore::similar(QStringLiteral("0000000000000000"), QStringLiteral("000000000000007f")));
        QVERIFY(!ImageStore::similar(QString(), QString()));
        QVERIFY(!ImageStore::similar(QStringLiteral("00"), QStringLiteral("00")));
        QVERIFY(!ImageStore::similar(QStringLiteral("zzzzzzzzzzzzzzzz"), QStringLiteral("zzzzzzzzzzzzzzzz")));
    }
};

QTEST_GUILESS_MAIN(ImageStoreTest)
#include "ImageStoreTest.moc"
