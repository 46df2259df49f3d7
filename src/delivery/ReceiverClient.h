#pragma once

#include "platform/CommandResult.h"
#include "state/Outcome.h"
#include "platform/ProcessRunner.h"
#include "state/Server.h"

#include <QFuture>
#include <QStringList>
#include <optional>

// The receiver commands on a destination, over ssh with the generated ssh_config:
//   ssh -F <data>/ssh_config -- <alias> <remoteDirAbsolute>/bin/tarnel-receiver <command> <args…>
// Each answers its value or a ready Chinese message.
class ReceiverClient {
public:
    struct Ping {
        int version = 0;
        QString base;
    };

    // <remoteDirAbsolute>/shots/<name>, or none before the receiver is set up. No side effect.
    static std::optional<QString> remotePath(const Server& server, const QString& name);

    static QFuture<Outcome<Ping>> ping(const Server& server);
    // Sends the file as <name>; the answer is its remote path.
    static QFuture<Outcome<QString>> put(const Server& server, const QString& localPath, const QString& name,
        const ProcessRunner::CancelToken& cancel = {});
    // Removes the named shots; the answer is how many were there.
    static QFuture<Outcome<int>> rm(const Server& server, const QStringList& names);
    // Removes shots older than keepHours, then the oldest while more than maxBytes remain.
    static QFuture<Outcome<int>> purge(const Server& server, int keepHours, qint64 maxBytes);

    // Ends the shared ssh connections to these destinations (at quit), all within `timeoutSeconds`.
    static void closeShared(const QList<Server>& servers, double timeoutSeconds);

    // The same, blocking; for worker threads only.
    static Outcome<QString> putNow(const Server& server, const QString& localPath, const QString& name,
        const ProcessRunner::CancelToken& cancel = {});

    static bool isShotName(const QString& name);
    static bool isRemoteDirectory(const QString& path);
    // The ssh arguments of one receiver command, or a message why it cannot be sent.
    static Outcome<QStringList> arguments(const Server& server, const QStringList& command);
    // The message for a run that did not answer "ok".
    static QString failureMessage(const CommandResult& result, const Server& server);
    // The same with its flags: `unreachable` when ssh itself failed (key refused, host out of reach, time-out).
    static Failure failure(const CommandResult& result, const Server& server);
    // The reply line ("ok …" or "err …") in the output, if any.
    static std::optional<QString> replyLine(const QString& stdout);
};
