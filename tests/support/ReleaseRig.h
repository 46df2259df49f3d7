#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class AccountServiceFixture;

// Releases made the way a publisher makes them: bundle folders, the real tarnel-sign with a throwaway key,
// archives. Also archives no honest tool makes (CraftedZip).
class ReleaseRig {
public:
    ReleaseRig(); // makes the key; check ok()
    bool ok() const { return !publicKey.isEmpty(); }

    QString keyPath() const { return dir.filePath(QStringLiteral("publisher.pem")); }
    QList<QByteArray> keys() const { return {publicKey}; }
    QString path(const QString& name) const { return dir.filePath(name); }

    // <name>/tarnel.app with info.json, an executable bin/tarnel (`program` copied, else a small script),
    // share/tarnel/notes.txt and a link bin/notes to it. Answers the bundle's path.
    QString makeBundle(const QString& name, const QString& build, const QString& version = QStringLiteral("1.4.0"),
                       const QString& program = {}) const;

    struct Run {
        int status = -1;
        QString out;
        QString err;
    };
    static Run tool(const QStringList& args);
    bool sign(const QString& bundle, const QString& key = {}) const; // default: this rig's key
    // `tarnel-sign pack`; answers the printed SHA-256, empty on failure.
    static QString pack(const QString& bundle, const QString& archive);
    // Zips the folder as it stands (no check), tarnel.app at the top.
    static bool zipAsIs(const QString& bundle, const QString& archive);
    // Adds the archive as a release of the service (stable channel) and publishes it; `extra` are more
    // options of `releases add` (--note, --minimum-system). Answers false when the admin refused.
    static bool publish(const AccountServiceFixture& service, const QString& archive, const QString& version,
                        qint64 build, const QStringList& extra = {});

private:
    QTemporaryDir dir;
    QByteArray publicKey;
};

// A zip written entry by entry (stored, Unix modes), for names with "..", absolute names and links.
class CraftedZip {
public:
    void addFile(const QString& name, const QByteArray& bytes, int mode = 0644);
    void addLink(const QString& name, const QString& target);
    void addFolder(const QString& folder); // every file and link below it, named "tarnel.app/..."
    bool save(const QString& path) const;

private:
    struct Entry {
        QByteArray name;
        QByteArray bytes;
        quint32 mode = 0;
    };
    QList<Entry> entries;
};
