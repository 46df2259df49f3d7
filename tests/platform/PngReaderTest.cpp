#include "platform/PngReader.h"
#include "support/TestImages.h"

#include <QtTest>

using TestImages::PngParts;

namespace {
QImage argb(const QImage& image) { return image.convertToFormat(QImage::Format_ARGB32); }

QByteArray withByteFlipped(QByteArray file, qsizetype at)
{
    file[at] = char(file[at] ^ 0x5a);
    return file;
}

QList<QByteArray> chunkTypes(const QByteArray& png)
{
    QList<QByteArray> types;
    for (qsizetype at = 8; at + 8 <= png.size();) {
        const quint32 length = qFromBigEndian<quint32>(png.constData() + at);
        types << png.mid(at + 4, 4);
        at += 12 + qsizetype(length);
    }
    return types;
}
} // namespace

class PngReaderTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Qt's reader is the reference: every filter, both colour types, odd sizes, split streams.
    void readsWhatQtReads_data()
    {
        QTest::addColumn<QByteArray>("png");
        const QSize size(38, 23); // RGB rows one byte apart: 115 bytes, not a multiple of four
        for (int channels : {3, 4})
            for (int filter = -1; filter <= 4; ++filter)
                QTest::addRow("%d channels, filter %d", channels, filter)
                    << TestImages::png({size, channels == 4 ? 6 : 2, 8, 0,
                                        TestImages::filteredRows(size, channels, filter), 1, {}});
        QTest::newRow("one pixel") << TestImages::png({QSize(1, 1), 6, 8, 0,
                                                       TestImages::filteredRows(QSize(1, 1), 4, 4), 1, {}});
        QTest::newRow("stream over many IDAT chunks")
            << TestImages::png({size, 2, 8, 0, TestImages::filteredRows(size, 3, -1), 7, {}});
        QTest::newRow("written by Qt, with text") << TestImages::qtPng(TestImages::screenshot(640, 400, 5), -1, QStringLiteral("x"));
        QImage translucent = TestImages::noise(50, 40).convertToFormat(QImage::Format_ARGB32);
        translucent.setPixel(3, 3, qRgba(10, 20, 30, 40));
        QTest::newRow("written by Qt, with alpha") << TestImages::qtPng(translucent);
    }

    void readsWhatQtReads()
    {
        QFETCH(QByteArray, png);
        QVERIFY(PngReader::takes(png));
        const auto image = PngReader::read(png, 1 << 30);
        QVERIFY(image);
        QCOMPARE(image->format(), PngReader::takes(png) && png[25] == 6 ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
        QCOMPARE(argb(*image), argb(QImage::fromData(png, "png")));
    }

    // What it cannot read right is left to Qt's reader (none), never read wrong.
    void leavesTheRestAlone_data()
    {
        QTest::addColumn<QByteArray>("png");
        QTest::addColumn<bool>("takes");
        const QSize size(16, 8);
        const QByteArray rows = TestImages::filteredRows(size, 3, -1);
        const QByteArray good = TestImages::png({size, 2, 8, 0, rows, 1, {}});
        const qsizetype idatData = good.indexOf("IDAT") + 4;
        QTest::newRow("grey") << TestImages::png({size, 0, 8, 0, rows, 1, {}}) << false;
        QTest::newRow("palette") << TestImages::png({size, 3, 8, 0, rows, 1, {}}) << false;
        QTest::newRow("16 bits") << TestImages::png({size, 2, 16, 0, rows, 1, {}}) << false;
        QTest::newRow("interlaced") << TestImages::png({size, 2, 8, 1, rows, 1, {}}) << false;
        QTest::newRow("not a PNG") << QByteArray("GIF89a") << false;
        QTest::newRow("transparent colour")
            << TestImages::png({size, 2, 8, 0, rows, 1, {{"tRNS", QByteArray(6, '\0')}}}) << true;
        QTest::newRow("checksum wrong") << withByteFlipped(good, idatData + 3) << true;
        QTest::newRow("cut short") << good.left(good.size() - 20) << true;
        QTest::newRow("too few rows")
            << TestImages::png({size, 2, 8, 0, rows.left(rows.size() / 2), 1, {}}) << true;
        QByteArray badFilter = rows;
        badFilter[0] = 5;
        QTest::newRow("unknown filter") << TestImages::png({size, 2, 8, 0, badFilter, 1, {}}) << true;
        QTest::newRow("over the pixel limit") << TestImages::png({QSize(4096, 4096), 2, 8, 0, rows, 1, {}}) << true;
        QTest::newRow("sides at the largest") << TestImages::png({QSize(0x7fffffff, 0x7fffffff), 2, 8, 0, rows, 1, {}})
                                               << true;
    }

    void leavesTheRestAlone()
    {
        QFETCH(QByteArray, png);
        QFETCH(bool, takes);
        QCOMPARE(PngReader::takes(png), takes);
        QVERIFY(!PngReader::read(png, 32 << 20));
    }

    void pixelsOnlyDropsMetadataAndKeepsPixels()
    {
        const QSize size(30, 20);
        const QByteArray png = TestImages::png({size, 6, 8, 0, TestImages::filteredRows(size, 4, -1), 3,
                                                {{"tEXt", QByteArrayLiteral("Author\0someone")},
                                                 {"eXIf", QByteArrayLiteral("MM\0*")},
                                                 {"gAMA", QByteArrayLiteral("\0\0\xb1\x8f")}}});
        const QByteArray kept = PngReader::pixelsOnly(png);
        QCOMPARE(chunkTypes(kept), (QList<QByteArray>{"IHDR", "IDAT", "IDAT", "IDAT", "IEND"}));
        QCOMPARE(argb(QImage::fromData(kept, "png")), argb(*PngReader::read(png, 1 << 20))); // gamma gone too
        QVERIFY(PngReader::pixelsOnly(TestImages::qtPng(QImage(8, 8, QImage::Format_Grayscale8))).isEmpty());
    }
};

QTEST_GUILESS_MAIN(PngReaderTest)
#include "PngReaderTest.moc"
