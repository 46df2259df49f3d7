#pragma once

#include "platform/CommandResult.h"

#include <QByteArray>
#include <QFuture>
#include <QStringList>
#include <atomic>
#include <memory>
#include <optional>

class QThreadPool;

// The one way tarnel runs another program: exactly the given arguments, optional standard input, a
// time-out, cancellation. The child gets its own process group, so a time-out or a cancel ends whatever
// it started too (SIGTERM, then SIGKILL 2 s later).
class ProcessRunner {
public:
    // Shared between the caller and a running command; cancel() ends the run soon after.
    class CancelToken {
    public:
        CancelToken() : flag(std::make_shared<std::atomic_bool>(false)) {}
        void cancel() const { flag->store(true); }
        bool isCancelled() const { return flag->load(); }
        bool operator==(const CancelToken& other) const { return flag == other.flag; }

    private:
        std::shared_ptr<std::atomic_bool> flag;
    };

    static QString sshPath() { return QStringLiteral("/usr/bin/ssh"); }

    // What is kept of each output stream. Replies are a line or a few; a child printing more is stopped
    // and its run fails (CommandResult::overflowed).
    static constexpr qsizetype outputCap = 1 << 20;

    // Blocks the calling thread until the program ends. Never call it on the main thread.
    static CommandResult run(const QString& program, const QStringList& args,
        const std::optional<QByteArray>& input, double timeoutSeconds, const CancelToken& cancel = {});

    // The same on a worker thread.
    static QFuture<CommandResult> start(const QString& program, const QStringList& args,
        const std::optional<QByteArray>& input, double timeoutSeconds, const CancelToken& cancel = {});

    // /usr/bin/ssh with exactly `args`; nothing is added.
    static QFuture<CommandResult> ssh(const QStringList& args, const std::optional<QByteArray>& input,
        double timeoutSeconds, const CancelToken& cancel = {});

    // Starts a program that outlives tarnel and is not waited for, with standard input and output on the
    // null device. False when it could not be started. Safe on the main thread.
    static bool startDetached(const QString& program, const QStringList& args);

    // Worker threads for runs that block (ssh, scripts). The global pool is sized for CPU work and would
    // let a few slow servers starve everything else.
    static QThreadPool* pool();
};
