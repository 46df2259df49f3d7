#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// What happens to a downloaded update archive before it may be installed, off the main thread: its
// SHA-256 against the offer, a safe unpacking into the stage folder, and the bundle test (identifier,
// build, the publisher's signature over every file). Each failure answers the message users see.
class UpdateStage {
public:
    static QString archiveName() { return QStringLiteral("tarnel.zip"); }
    static QString bundleName() { return QStringLiteral("tarnel.app"); }

    // Steps after the download, in order: digest (case-insensitive), the size bound, unpacking, removal of the archive,
    // bundle test. The stage folder is removed on any failure but a read error of the archive.
    // `publisherKeys` none: the running copy has no signature requirement.
    static std::optional<QString> settle(const QString& stageDir, const QString& expectedSha256, qint64 build,
                                         const std::optional<QList<QByteArray>>& publisherKeys);

    // Bounds on what an archive may unpack to: the total of its files' bytes (from its own size) and the
    // number of entries.
    static qint64 unpackedLimit(qint64 archiveBytes);
    static constexpr int maxEntries = 20000;
    // Whether the archive unpacks to at most that many bytes and entries (false when it cannot be read).
    static bool fitsWhenUnpacked(const QString& archive, qint64 maxBytes, int maxEntries);

    // Unpacks a zip into the folder, refusing absolute names, ".." and writes through links; any
    // warning of the extractor counts as a failure.
    static bool unpack(const QString& archive, const QString& intoDir);

    // The bundle test; none when the bundle is accepted, else the message.
    static std::optional<QString> verify(const QString& app, qint64 expectedBuild,
                                         const std::optional<QList<QByteArray>>& publisherKeys);

    // A decimal integer with an optional sign and nothing else.
    static std::optional<qint64> wholeNumber(const QString& text);
};
