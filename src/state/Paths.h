#pragma once

#include <QString>
#include <optional>

// Where tarnel keeps its files. The data directory is decided once per process.
class Paths {
public:
    static QString dataDirectory();
    static std::optional<QString> dataOverride();

    // A file or folder directly inside the data directory.
    static QString inData(const QString& name);
    static QString shotsDirectory() { return inData(QStringLiteral("shots")); }
    static QString logsDirectory() { return inData(QStringLiteral("logs")); }
    static QString netDirectory() { return inData(QStringLiteral("net")); }
    static QString connectDirectory() { return inData(QStringLiteral("connect")); }
    static QString updatesDirectory() { return inData(QStringLiteral("updates")); }

    // Folder for ssh control sockets: short, private and owned by us ($XDG_RUNTIME_DIR/tarnel, else
    // tarnel-<uid> in the temporary folder, else a fresh one there).
    static QString controlDirectory();

    // tarnel-net next to the running program, when present and executable; checked at each call.
    static std::optional<QString> netBinary();

    // mkdir -p with mode 0700, then 0700 on the folder itself. Never throws.
    static bool ensure(const QString& dir);
};
