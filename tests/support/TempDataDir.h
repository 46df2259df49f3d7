#pragma once

#include <QString>
#include <QTemporaryDir>

// A private data directory for one test process: TARNEL_DATA points at it and the log is written into it.
class TempDataDir {
public:
    TempDataDir();
    QString path() const { return dir.path(); }
    QString file(const QString& name) const { return dir.filePath(name); }
    // Points XDG_RUNTIME_DIR at a private folder inside, so ssh control sockets of the test stay there.
    void usePrivateRuntimeDir() const;
    // Every log line written so far (waits for the log's background writer).
    QStringList logLines() const;

private:
    QTemporaryDir dir;
};

// Reads a whole file; empty when it cannot be read.
QByteArray readFile(const QString& path);
// Replaces a file's content with `bytes`; false when it cannot be written.
bool writeWholeFile(const QString& path, const QByteArray& bytes);
// The permission bits of a file or folder (e.g. 0600).
int fileMode(const QString& path);
