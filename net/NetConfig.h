#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

// <state>/config.json, optional: where to listen, which addresses to advertise, where the local sshd is,
// an extra CA file for the account service, and the link's intervals. Every field has a default.
struct NetConfig {
    QString listenHost = QStringLiteral("::");
    int listenPort = 47810;
    QList<QHostAddress> advertise; // empty: this machine's non-loopback addresses
    QString sshHost = QStringLiteral("127.0.0.1");
    int sshPort = 22;
    QString caFile;
    int syncMs = 15000;
    int pingMs = 5000;
    int relayAfterMs = 4000;
    int maxBackoffMs = 30000;
    // While relayed, how soon the direct path is tried again; the wait doubles up to the second value.
    int directProbeMs = 5000;
    int maxDirectProbeMs = 30000;
    // How long a tunnel whose link went waits for the next link before it closes.
    int tunnelResumeMs = 60000;
    // A certificate no device of the account has makes the node sync at most this often (it may be a
    // device that joined since).
    int strangerSyncMs = 30000;

    // The file's values over the defaults; an error text when it exists but cannot be used.
    static NetConfig load(const QString& path, QString* error);
};
