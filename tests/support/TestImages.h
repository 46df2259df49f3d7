#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <QList>
#include <utility>

// Pictures for tests, reproducible per seed.
namespace TestImages {
// Like a screenshot: a flat background with coloured blocks placed by the seed; distinct per seed.
QImage screenshot(int width, int height, int seed);
// A different colour in every pixel, so it compresses badly and any change of pixels shows.
QImage noise(int width, int height, int seed = 7);
// A PNG file whose header claims `size` but whose pixel data is a few bytes.
QByteArray pngClaiming(QSize size);

// `image` as Qt writes a PNG, at `quality` (100: hardly compressed), with a comment in a text chunk when given.
QByteArray qtPng(const QImage& image, int quality = -1, const QString& comment = {});
// A PNG put together by hand: rows (each led by its filter byte) deflated and split over `idatChunks` IDAT
// chunks, `extra` chunks (type, data) between the header and the pixels.
struct PngParts {
    QSize size;
    int colourType = 2; // 2 RGB, 6 RGBA, 0 grey, 3 palette
    int bits = 8;
    int interlace = 0;
    QByteArray rows;
    int idatChunks = 1;
    QList<std::pair<QByteArray, QByteArray>> extra;
};
QByteArray png(const PngParts& parts);
// Rows of random bytes, each led by `filter` (or a random one of the five when negative): any such bytes make
// valid pixels, whatever the filter.
QByteArray filteredRows(QSize size, int channels, int filter, int seed = 3);
} // namespace TestImages
