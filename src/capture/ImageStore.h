#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <optional>

// An image as it is kept: encoded bytes plus what the shot store needs to compare it.
struct NormalisedImage {
    QByteArray bytes;
    QString format;      // "png" or "jpg", also the file extension
    int width = 0;
    int height = 0;
    QString md5;         // lower-case hex of `bytes`
    QString fingerprint; // 16 hex digits, see ImageStore::fingerprint
};

// Image normalisation: size limit, PNG else JPEG, content hash and similarity fingerprint.
class ImageStore {
public:
    // A copy scaled so its long side is `longSide` (sides rounded, at least 1); none for an empty image.
    static std::optional<QImage> resized(const QImage& image, int longSide);

    // Long side reduced to `maxLongSide` (0 = keep), PNG; JPEG at quality 85 (alpha flattened onto white)
    // when the PNG is over `maxBytes`; none when that is still over. `sourcePng`, when given, is the file
    // `image` was read from: kept as it stands (less its metadata) when the picture needs no change and the
    // file is no larger than a new one would be.
    static std::optional<NormalisedImage> normalise(const QImage& image, int maxLongSide, qint64 maxBytes,
                                                    const QByteArray& sourcePng = {});

    static QString md5Hex(const QByteArray& bytes);

    // dHash: grey, 9x8, one bit per horizontally adjacent pair.
    static QString fingerprint(const QImage& image);
    // Hamming distance <= 6 between two fingerprints.
    static bool similar(const QString& a, const QString& b);
};
