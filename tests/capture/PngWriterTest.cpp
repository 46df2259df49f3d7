#include "capture/PngWriter.h"

#include "support/TestImages.h"

#include <QtTest>

class PngWriterTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Any size (one pixel, one column, bands with a remainder) and each 32-bit format decodes to the same pixels.
    void decodesToTheSamePixels_data()
    {
        QTest::addColumn<QImage>("image");
        const QImage rgb = TestImages::noise(641, 129, 3);
        QImage alpha = TestImages::screenshot(300, 200, 4).convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 300; x += 3)
                alpha.setPixel(x, y, qRgba(x % 256, y, 90, (x + y) % 256));
        QTest::newRow("1x1") << rgb.copy(0, 0, 1, 1);
        QTest::newRow("one column") << rgb.copy(5, 0, 1, 129);
        QTest::newRow("one band exactly") << rgb.copy(0, 0, 200, 64);
        QTest::newRow("bands and a remainder") << rgb;
        QTest::newRow("alpha") << alpha;
        QTest::newRow("premultiplied alpha") << alpha.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    void decodesToTheSamePixels()
    {
        QFETCH(QImage, image);
        const QByteArray png = PngWriter::encode(image);
        const QImage decoded = QImage::fromData(png, "png");
        QCOMPARE(decoded.hasAlphaChannel(), image.hasAlphaChannel());
        QCOMPARE(decoded.convertToFormat(image.format()), image);
    }

    // The estimate decides between PNG and JPEG: it must be near the real size on flat and on busy pictures.
    void estimateIsNearTheRealSize_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::newRow("screenshot") << TestImages::screenshot(1920, 1080, 1);
        QTest::newRow("noise") << TestImages::noise(1200, 900);
    }
    void estimateIsNearTheRealSize()
    {
        QFETCH(QImage, image);
        const double ratio = double(PngWriter::estimate(image)) / double(PngWriter::encode(image).size());
        QVERIFY2(ratio > 0.8 && ratio < 1.2, qPrintable(QString::number(ratio)));
    }

    // Files may not grow much against Qt's default writer, on flat pictures as on busy ones.
    void sizeStaysNearTheDefaultWriters_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::newRow("flat screenshot") << TestImages::screenshot(1920, 1080, 5);
        QTest::newRow("noise") << TestImages::noise(600, 400);
    }
    void sizeStaysNearTheDefaultWriters()
    {
        QFETCH(QImage, image);
        const double ratio = double(PngWriter::encode(image).size()) / double(TestImages::qtPng(image).size());
        QVERIFY2(ratio <= 1.1, qPrintable(QString::number(ratio)));
    }

    void refusesOtherFormats() { QVERIFY(PngWriter::encode(QImage(4, 4, QImage::Format_Indexed8)).isEmpty()); }
};

QTEST_GUILESS_MAIN(PngWriterTest)
#include "PngWriterTest.moc"
