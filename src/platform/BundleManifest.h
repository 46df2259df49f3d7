#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>
#include <variant>

// The signed description of a bundle folder: every file and link below it (but the folder `signature`,
// which holds the description and its signature), sorted by path, each with its type, its executable bit
// and its SHA-256 or link target. The release tool writes it; the updater checks a downloaded bundle
// against it, so both read and write it here.
class BundleManifest {
public:
    enum class Type { file, link };
    struct Entry {
        QString path; // relative, "/"-separated
        Type type = Type::file;
        bool executable = false;  // files only
        QString sha256;           // files only, lower-case hex
        QString target;           // links only
        bool operator==(const Entry&) const = default;
    };

    // How a bundle can fail its check; the numbers are shown to users.
    enum class Mismatch {
        none = 0,
        badSignature = 1,
        missing = 2,    // a listed path is not there
        content = 3,    // a file's digest or a link's target differs
        unlisted = 4,   // something on disk the manifest does not name
        kind = 5,       // file against link or folder, or the executable bit
        unsafeTree = 6, // a link leaving the bundle, an absolute link, a special file
        unsafePath = 7, // the manifest names a path that is no plain relative path
    };

    QList<Entry> entries;

    static QString manifestPath(const QString& bundleDir);
    static QString signaturePath(const QString& bundleDir);

    // Describes the folder as it is; an error text for what cannot be signed (special files, links
    // leaving the bundle, empty folders, unreadable files).
    static std::variant<BundleManifest, QString> describe(const QString& bundleDir);
    // The exact bytes that are signed: compact JSON, keys and entries sorted.
    QByteArray canonicalBytes() const;
    // Strict reading; none when the bytes are not a manifest.
    static std::optional<BundleManifest> parse(const QByteArray& bytes);
    // How the folder on disk differs from this manifest (the signature is checked elsewhere).
    Mismatch compare(const QString& bundleDir) const;

    static bool safePath(const QString& path);
    // A relative target that stays inside the bundle from the link at `linkPath`: ".." only at its
    // start, and no more of them than the link is deep.
    static bool safeLinkTarget(const QString& linkPath, const QString& target);
    // The file's SHA-256 in lower-case hex, read in 4 MiB pieces; none when it cannot be read.
    static std::optional<QString> fileSha256(const QString& path);
};
