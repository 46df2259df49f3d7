#include "servers/PasswordLogin.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int killGraceMs = 2000;
constexpr int tickMs = 50;
constexpr qsizetype promptTail = 1024; // a prompt is looked for in this much of the latest output

// Everything exec needs, built before the fork: the child may only call async-signal-safe functions.
struct ExecImage {
    std::vector<QByteArray> storage;
    std::vector<char*> argv;
    std::vector<char*> envp;

    ExecImage(const QString& program, const QStringList& args)
    {
        storage.reserve(args.size() + 1);
        storage.push_back(QFile::encodeName(program));
        for (const QString& arg : args)
            storage.push_back(arg.toLocal8Bit());
        for (QByteArray& item : storage)
            argv.push_back(item.data());
        argv.push_back(nullptr);
        // A graphical askpass must not take the prompt away from our terminal.
        for (char** entry = environ; entry && *entry; ++entry) {
            if (qstrncmp(*entry, "SSH_ASKPASS", 11) != 0)
                envp.push_back(*entry);
        }
        envp.push_back(nullptr);
    }
};

// Reads what is there now, up to just past the output cap; false once the other side is gone.
bool readAvailable(int fd, QByteArray& into)
{
    char buffer[16384];
    while (into.size() <= ProcessRunner::outputCap) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && errno == EAGAIN; // EIO: the terminal's other side is gone
    }
    return true;
}

void writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno == EAGAIN)
            ::poll(nullptr, 0, 5);
        else if (!(n < 0 && errno == EINTR))
            return;
    }
}

bool echoIsOn(int master)
{
    termios current {};
    return ::tcgetattr(master, &current) != 0 || (current.c_lflag & ECHO);
}

} // namespace

bool PasswordLogin::endsWithPrompt(const QString& text)
{
    static const QRegularExpression prompt(QStringLiteral("password[^:\\n]*:\\s*\\z"),
        QRegularExpression::CaseInsensitiveOption);
    return prompt.match(text).hasMatch();
}

PasswordLogin::Result PasswordLogin::run(const QString& program, const QStringList& args, const QString& password,
    double timeoutSeconds, const ProcessRunner::CancelToken& cancel)
{
    Result result;
    ExecImage image(program, args);
    termios settings {};
    ::cfmakeraw(&settings);
    settings.c_lflag |= ECHO | ICANON | ISIG; // a plain line-based terminal, as a login expects
    settings.c_iflag |= ICRNL;
    settings.c_oflag |= OPOST;
    winsize size {};
    size.ws_col = 200;
    size.ws_row = 50;

    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, &settings, &size);
    if (pid < 0) {
        result.run.stderr = QStringLiteral("无法启动 ") + program + QStringLiteral("：") + QString::fromLocal8Bit(::strerror(errno));
        return result;
    }
    if (pid == 0) {
        ::execve(image.argv[0], image.argv.data(), image.envp.data());
        ::_exit(127);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);

    QByteArray output;
    qsizetype answeredAt = -1; // where the output stood when the password was typed
    qsizetype scanned = 0;     // output before this was already searched for a refusal
    bool denied = false;       // "Permission denied" since the start, or since the password was typed
    const QByteArray refusal = QByteArrayLiteral("Permission denied");
    bool masterOpen = true;
    bool exited = false;
    int waitStatus = 0;
    qint64 killAt = -1;
    QElapsedTimer clock;
    clock.start();

    auto stop = [&](bool now) {
        if (killAt < 0) {
            ::kill(-pid, SIGTERM);
            ::kill(pid, SIGTERM);
            killAt = clock.elapsed() + (now ? 0 : killGraceMs);
        }
    };

    while (!exited || masterOpen) {
        if (masterOpen) {
            pollfd p {master, POLLIN, 0};
            ::poll(&p, 1, tickMs);
            masterOpen = readAvailable(master, output);
        } else {
            ::poll(nullptr, 0, 5);
        }
        if (!exited && ::waitpid(pid, &waitStatus, WNOHANG) == pid)
            exited = true;
        if (exited && masterOpen) {
            // The program is gone; take what it left in the terminal and stop.
            readAvailable(master, output);
            masterOpen = false;
        }

        if (output.size() > ProcessRunner::outputCap && !result.run.overflowed) {
            result.run.overflowed = true;
            output.truncate(ProcessRunner::outputCap);
            stop(false);
        }
        if (result.run.overflowed && output.size() > ProcessRunner::outputCap)
            output.truncate(ProcessRunner::outputCap); // what comes after the cap is read and dropped
        // Only what arrived since the last look is searched, and a prompt only in the last bytes.
        const qsizetype start = answeredAt < 0 ? 0 : answeredAt;
        if (output.size() > scanned) {
            denied = denied || output.indexOf(refusal, std::max(start, scanned - refusal.size() + 1)) >= 0;
            scanned = output.size();
        }
        const QString since = QString::fromUtf8(output.mid(std::max(start, output.size() - promptTail)));
        if (!result.passwordRejected && killAt < 0) {
            if (denied) {
                if (answeredAt >= 0) {
                    result.passwordRejected = true;
                    stop(false);
                }
            } else if (endsWithPrompt(since)) {
                if (answeredAt < 0 && echoIsOn(master)) {
                    // Not typed into a terminal that would show it; ssh turns echo off before it asks.
                } else if (answeredAt < 0) {
                    QByteArray secret = password.toUtf8();
                    secret.append('\n');
                    writeAll(master, secret);
                    secret.fill('\0');
                    answeredAt = output.size();
                    scanned = answeredAt;
                } else {
                    result.passwordRejected = true;
                    stop(false);
                }
            }
        }
        if (!exited && killAt < 0) {
            if (cancel.isCancelled()) {
                result.run.cancelled = true;
                stop(false);
            } else if (clock.elapsed() > qint64(timeoutSeconds * 1000)) {
                result.run.timedOut = true;
                stop(false);
            }
        }
        if (!exited && killAt >= 0 && clock.elapsed() >= killAt) {
            ::kill(-pid, SIGKILL);
            ::kill(pid, SIGKILL);
        }
    }
    ::close(master);

    if (WIFEXITED(waitStatus))
        result.run.status = WEXITSTATUS(waitStatus);
    else if (WIFSIGNALED(waitStatus))
        result.run.status = 128 + WTERMSIG(waitStatus);
    result.run.stdout = QString::fromUtf8(output).remove(QLatin1Char('\r'));
    if (answeredAt < 0 && denied)
        result.passwordRejected = true;
    return result;
}
