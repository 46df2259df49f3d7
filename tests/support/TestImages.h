#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

// Pictures for tests, reproducible per seed.
namespace TestImages {
// Like a screenshot: a flat background with coloured blocks placed by the seed; distinct per seed.
QImage screenshot(int width, int height, int seed);
// A different colour in every pixel, so it compresses badly and any change of pixels shows.
QImage noise(int width, int height, int seed = 7);
// A PNG file whose header claims `size` but whose pixel data is a few bytes.
QByteArray pngClaiming(QSize size);
} // namespace TestImages
