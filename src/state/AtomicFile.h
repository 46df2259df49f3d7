#pragma once

#include "state/Outcome.h"

#include <QByteArray>
#include <QString>
#include <optional>

// The one way tarnel replaces a file: a temporary file of its own next to it, fsync, rename. A crash leaves either
// the old content or the new, never a mix.
class AtomicFile {
public:
    // The file gets `mode` from its creation on; a failure says why it could not be written.
    static Outcome<> write(const QString& path, const QByteArray& bytes, int mode = 0600);
    // write() in two steps, so the slow one can run elsewhere: stage() writes and syncs a temporary file next
    // to `near` and returns its path; commit() renames it to `path` (same folder or file system). With
    // `syncLater`, making the content durable (syncFile) is left to the caller.
    static Outcome<QString> stage(const QString& near, const QByteArray& bytes, int mode = 0600,
                                  bool syncLater = false);
    // `syncLater` leaves making the rename durable (syncFolder of the file's folder) to the caller.
    static Outcome<> commit(const QString& staged, const QString& path, bool syncLater = false);
    static void syncFolder(const QString& dir);
    static void syncFile(const QString& path);

    // Moves an unreadable file out of the way ("<name>.broken-yyyyMMdd-HHmmss") so it is never overwritten;
    // returns the new path, or none when nothing could be moved.
    static std::optional<QString> keepAside(const QString& path);
};
