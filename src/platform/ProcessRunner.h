#pragma once

#include "platform/CommandResult.h"
#include "state/Outcome.h"

#include <QByteArray>
#include <QFuture>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QObject;
class QSocketNotifier;
class QThreadPool;
class QTimer;

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

    // A program that runs on its own, started by spawn() and watched from the thread that started it.
    class Child {
    public:
        ~Child(); // one still running is killed and reaped: none is left behind
        Child(const Child&) = delete;
        Child& operator=(const Child&) = delete;

        qint64 pid() const { return id; }
        bool running() const { return !reaped; }
        void terminate(); // SIGTERM to its process group
        void kill();      // SIGKILL to its process group
        // Blocks up to `ms` (without limit when negative) until it has ended and is reaped; an end collected
        // here is not reported to onExit.
        bool waitForExit(int ms);

        // Called once, from the event loop, when it has ended: the exit status, or 128 + the signal that
        // ended it. The callback may destroy the Child.
        std::function<void(int status)> onExit;

    private:
        friend class ProcessRunner;
        explicit Child(pid_t pid);
        bool reap(int options);
        void check();

        pid_t id;
        int pidFd = -1;
        bool reaped = false;
        int exitStatus = 0;
        std::unique_ptr<QObject> context; // keeps a pending report from outliving the Child
        std::unique_ptr<QSocketNotifier> notifier;
        std::unique_ptr<QTimer> fallback; // without pidfd: look regularly
    };

    // Starts `program` with exactly `args` and `environment` ("NAME=value", nothing inherited), standard
    // input from /dev/null, standard output and error into `outputFd` (ours when -1), in a process group of
    // its own. Fails with the system's description of why it could not start.
    static Outcome<std::shared_ptr<Child>> spawn(const QString& program, const QStringList& args,
        const QStringList& environment, int outputFd);

    // Starts a program that outlives tarnel and is not waited for, in the user's home, with standard input
    // and output on the null device. False when it could not be started. Safe on the main thread.
    static bool startDetached(const QString& program, const QStringList& args);
    // Started the same way from the main thread, but watched: `ended` gets its exit status (127 when it
    // could not start, 137 when a signal ended it). Still running when tarnel quits, it is stopped.
    static void startWatched(const QString& program, const QStringList& args, std::function<void(int status)> ended);

    // Worker threads for runs that block (ssh, scripts). The global pool is sized for CPU work and would
    // let a few slow servers starve everything else.
    static QThreadPool* pool();
};
