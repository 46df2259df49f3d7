#include "platform/ProcessRunner.h"

#include "platform/Fd.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {
// A child starts in a process group of its own (so a cancel reaches its children too), with no signal
// blocked and every signal at its default, whatever this process set for itself.
void initChildAttributes(posix_spawnattr_t& attributes)
{
    posix_spawnattr_init(&attributes);
    sigset_t noSignals, defaults;
    sigemptyset(&noSignals);
    sigfillset(&defaults);
    posix_spawnattr_setsigmask(&attributes, &noSignals);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
}


constexpr int killGraceMs = 2000;
constexpr int tickMs = 50;
constexpr qsizetype outputCap = ProcessRunner::outputCap;

// A bare name is looked up in the absolute folders of PATH; a relative path is refused. Nothing is ever
// run from the current folder.
std::optional<QByteArray> programPath(const QString& program)
{
    const QByteArray name = QFile::encodeName(program);
    if (name.startsWith('/'))
        return name;
    if (name.isEmpty() || name.contains('/'))
        return std::nullopt;
    const char* path = std::getenv("PATH");
    for (const QByteArray& folder : QByteArray(path ? path : "/usr/local/bin:/usr/bin:/bin").split(':')) {
        if (!folder.startsWith('/'))
            continue;
        const QByteArray candidate = folder + '/' + name;
        struct stat info {};
        if (::stat(candidate.constData(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.constData(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

CommandResult startFailure(const QString& program, int error)
{
    CommandResult result;
    result.status = -1;
    result.stderr = QStringLiteral("无法启动 ") + program + QStringLiteral("：") +
        QString::fromLocal8Bit(std::strerror(error));
    return result;
}

int openPidFd(pid_t pid)
{
#ifdef SYS_pidfd_open
    return int(::syscall(SYS_pidfd_open, pid, 0));
#else
    return -1;
#endif
}

// SIGPIPE from a write into a closed stdin is directed at this thread: keep it blocked for the run and
// swallow it afterwards, instead of ignoring it for the whole process.
class PipeSignalGuard {
public:
    PipeSignalGuard()
    {
        sigemptyset(&pipeSet);
        sigaddset(&pipeSet, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSet, &previous);
    }
    ~PipeSignalGuard()
    {
        const timespec zero {};
        while (sigtimedwait(&pipeSet, nullptr, &zero) > 0) {
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }

private:
    sigset_t pipeSet;
    sigset_t previous;
};

} // namespace

CommandResult ProcessRunner::run(const QString& program, const QStringList& args,
    const std::optional<QByteArray>& input, double timeoutSeconds, const CancelToken& cancel)
{
    PipeSignalGuard pipeGuard;

    Fd inRead, inWrite, outRead, outWrite, errRead, errWrite;
    if (input) {
        if (!Fd::makePipe(inRead, inWrite))
            return startFailure(program, errno);
    } else {
        inRead.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    }
    if (!Fd::makePipe(outRead, outWrite) || !Fd::makePipe(errRead, errWrite))
        return startFailure(program, errno);

    const std::optional<QByteArray> resolved = programPath(program);
    if (!resolved)
        return startFailure(program, ENOENT);
    const QByteArray path = *resolved;
    QList<QByteArray> argBytes { path };
    for (const QString& arg : args)
        argBytes << arg.toUtf8();
    std::vector<char*> argv;
    for (QByteArray& arg : argBytes)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inRead.get(), 0);
    posix_spawn_file_actions_adddup2(&actions, outWrite.get(), 1);
    posix_spawn_file_actions_adddup2(&actions, errWrite.get(), 2);
    // Nothing of ours leaks into the child: an ssh control master lives on for minutes.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    posix_spawnattr_t attributes;
    initChildAttributes(attributes);

    pid_t pid = -1;
    const int spawnError = ::posix_spawn(&pid, path.constData(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawnError != 0)
        return startFailure(program, spawnError);

    inRead.close();
    outWrite.close();
    errWrite.close();
    if (inWrite.open())
        Fd::setNonBlocking(inWrite.get());
    Fd::setNonBlocking(outRead.get());
    Fd::setNonBlocking(errRead.get());
    Fd pidFd(openPidFd(pid));

    CommandResult result;
    QByteArray out, err;
    qsizetype written = 0;
    if (input && input->isEmpty())
        inWrite.close();

    QElapsedTimer clock;
    clock.start();
    const qint64 timeoutMs = qint64(timeoutSeconds * 1000);
    qint64 killAtMs = -1; // set once SIGTERM went out
    int waitStatus = 0;
    bool exited = false;

    while (!exited) {
        const bool stopRequested = cancel.isCancelled() || clock.elapsed() >= timeoutMs;
        if (stopRequested && killAtMs < 0) {
            if (cancel.isCancelled())
                result.cancelled = true;
            else
                result.timedOut = true;
            ::kill(-pid, SIGTERM);
            killAtMs = clock.elapsed() + killGraceMs;
            inWrite.close();
        }
        if (killAtMs >= 0 && clock.elapsed() >= killAtMs) {
            ::kill(-pid, SIGKILL);
            killAtMs = std::numeric_limits<qint64>::max();
        }

        pollfd fds[4];
        int count = 0;
        int inIndex = -1, outIndex = -1, errIndex = -1, pidIndex = -1;
        if (inWrite.open()) {
            inIndex = count;
            fds[count++] = { inWrite.get(), POLLOUT, 0 };
        }
        if (outRead.open()) {
            outIndex = count;
            fds[count++] = { outRead.get(), POLLIN, 0 };
        }
        if (errRead.open()) {
            errIndex = count;
            fds[count++] = { errRead.get(), POLLIN, 0 };
        }
        if (pidFd.open()) {
            pidIndex = count;
            fds[count++] = { pidFd.get(), POLLIN, 0 };
        }
        qint64 waitMs = killAtMs >= 0 ? tickMs : std::max<qint64>(0, timeoutMs - clock.elapsed());
        if (!pidFd.open() || !(outRead.open() || errRead.open()))
            waitMs = std::min<qint64>(waitMs, 10); // no way to be woken by the exit: look regularly
        waitMs = std::min<qint64>(waitMs, tickMs); // cancel is only seen between waits
        const int ready = ::poll(fds, nfds_t(count), int(waitMs));
        if (ready < 0 && errno != EINTR)
            break;

        if (inIndex >= 0 && (fds[inIndex].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t n = ::write(inWrite.get(), input->constData() + written, size_t(input->size() - written));
            if (n > 0)
                written += n;
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                inWrite.close(); // the child stopped reading: what it did not take is its business
            if (written == input->size())
                inWrite.close();
        }
        if (outIndex >= 0 && fds[outIndex].revents)
            Fd::drain(outRead, out, outputCap);
        if (errIndex >= 0 && fds[errIndex].revents)
            Fd::drain(errRead, err, outputCap);
        if ((out.size() > outputCap || err.size() > outputCap) && !result.overflowed) {
            // Stop reading and stop the child: what it would say beyond this is not worth the memory.
            result.overflowed = true;
            outRead.close();
            errRead.close();
            ::kill(-pid, SIGTERM);
            killAtMs = clock.elapsed() + killGraceMs;
            inWrite.close();
        }

        const bool mayHaveExited = pidIndex < 0 || (fds[pidIndex].revents & POLLIN);
        if (mayHaveExited) {
            const pid_t done = ::waitpid(pid, &waitStatus, WNOHANG);
            if (done == pid || (done < 0 && errno == ECHILD))
                exited = true;
        }
    }
    if (!exited)
        ::waitpid(pid, &waitStatus, 0);

    // Whatever the child wrote is in the pipes now. A grandchild that kept them open (a daemon, an ssh
    // control master) is not waited for.
    if (outRead.open())
        Fd::drain(outRead, out, outputCap);
    if (errRead.open())
        Fd::drain(errRead, err, outputCap);

    if (WIFEXITED(waitStatus))
        result.status = WEXITSTATUS(waitStatus);
    else if (WIFSIGNALED(waitStatus))
        result.status = 128 + WTERMSIG(waitStatus);
    result.stdout = QString::fromUtf8(out.left(outputCap));
    result.stderr = QString::fromUtf8(err.left(outputCap));
    return result;
}

QFuture<CommandResult> ProcessRunner::start(const QString& program, const QStringList& args,
    const std::optional<QByteArray>& input, double timeoutSeconds, const CancelToken& cancel)
{
    return QtConcurrent::run(pool(), [=] { return run(program, args, input, timeoutSeconds, cancel); });
}

QFuture<CommandResult> ProcessRunner::ssh(const QStringList& args, const std::optional<QByteArray>& input,
    double timeoutSeconds, const CancelToken& cancel)
{
    return start(sshPath(), args, input, timeoutSeconds, cancel);
}

Outcome<std::shared_ptr<ProcessRunner::Child>> ProcessRunner::spawn(const QString& program,
    const QStringList& args, const QStringList& environment, int outputFd)
{
    using Result = Outcome<std::shared_ptr<Child>>;
    const QByteArray path = QFile::encodeName(program);
    QList<QByteArray> argBytes { path };
    for (const QString& arg : args)
        argBytes << arg.toUtf8();
    QList<QByteArray> envBytes;
    for (const QString& entry : environment)
        envBytes << entry.toUtf8();
    std::vector<char*> argv, envp;
    for (QByteArray& arg : argBytes)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    for (QByteArray& entry : envBytes)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outputFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outputFd, 1);
        posix_spawn_file_actions_adddup2(&actions, outputFd, 2);
    }
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    posix_spawnattr_t attributes;
    initChildAttributes(attributes);

    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, path.constData(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0)
        return Result::failure(QString::fromLocal8Bit(std::strerror(error)));
    return Result::success(std::shared_ptr<Child>(new Child(pid)));
}

ProcessRunner::Child::Child(pid_t pid) : id(pid), pidFd(openPidFd(pid)), context(std::make_unique<QObject>())
{
    if (pidFd >= 0) {
        notifier = std::make_unique<QSocketNotifier>(pidFd, QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, context.get(), [this] { check(); });
    } else {
        fallback = std::make_unique<QTimer>();
        fallback->setInterval(tickMs);
        QObject::connect(fallback.get(), &QTimer::timeout, context.get(), [this] { check(); });
        fallback->start();
    }
}

ProcessRunner::Child::~Child()
{
    notifier.reset();
    fallback.reset();
    if (!reaped) {
        ::kill(-id, SIGKILL);
        reap(0);
    }
    if (pidFd >= 0)
        ::close(pidFd);
}

void ProcessRunner::Child::terminate()
{
    if (!reaped)
        ::kill(-id, SIGTERM);
}

void ProcessRunner::Child::kill()
{
    if (!reaped)
        ::kill(-id, SIGKILL);
}

bool ProcessRunner::Child::reap(int options)
{
    if (reaped)
        return true;
    int status = 0;
    pid_t done;
    do {
        done = ::waitpid(id, &status, options);
    } while (done < 0 && errno == EINTR);
    if (done != id)
        return false;
    reaped = true;
    exitStatus = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    if (notifier)
        notifier->setEnabled(false);
    if (fallback)
        fallback->stop();
    return true;
}

void ProcessRunner::Child::check()
{
    if (!reap(WNOHANG))
        return;
    // Reported from a fresh turn of the event loop, so the callback may destroy this Child.
    QTimer::singleShot(0, context.get(), [callback = std::move(onExit), status = exitStatus] {
        if (callback)
            callback(status);
    });
}

bool ProcessRunner::Child::waitForExit(int ms)
{
    if (ms < 0)
        return reap(0);
    const QDeadlineTimer deadline(ms);
    while (!reap(WNOHANG)) {
        if (deadline.hasExpired())
            return false;
        pollfd p { pidFd, POLLIN, 0 };
        const int wait = int(std::min<qint64>(deadline.remainingTime(), pidFd >= 0 ? ms : 10));
        if (pidFd >= 0)
            ::poll(&p, 1, wait);
        else
            ::usleep(useconds_t(wait) * 1000);
    }
    return true;
}

QThreadPool* ProcessRunner::pool()
{
    static QThreadPool* instance = [] {
        auto* created = new QThreadPool;
        created->setMaxThreadCount(32);
        created->setExpiryTimeout(60000);
        return created;
    }();
    return instance;
}

namespace {
void prepareForTheUser(QProcess& process, const QString& program, const QStringList& args)
{
    process.setProgram(program);
    process.setArguments(args);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    // In the user's home, as a program the user starts: tarnel's own working folder (the build tree,
    // wherever it was started from) means nothing to a terminal or a file manager.
    process.setWorkingDirectory(QDir::homePath());
}
} // namespace

bool ProcessRunner::startDetached(const QString& program, const QStringList& args)
{
    QProcess process;
    prepareForTheUser(process, program, args);
    return process.startDetached();
}

void ProcessRunner::startWatched(const QString& program, const QStringList& args, std::function<void(int status)> ended)
{
    auto* process = new QProcess(QCoreApplication::instance());
    prepareForTheUser(*process, program, args);
    QObject::connect(process, &QProcess::finished, process, [process, ended](int code, QProcess::ExitStatus how) {
        process->deleteLater();
        ended(how == QProcess::NormalExit ? code : 128 + SIGKILL);
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, ended](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        process->deleteLater();
        ended(127);
    });
    process->start();
}
