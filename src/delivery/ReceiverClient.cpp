#include "delivery/ReceiverClient.h"

#include "delivery/SSHConfig.h"
#include "delivery/SharedConnection.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QtConcurrent/QtConcurrentRun>

namespace {

constexpr double pingTimeout = 20;
constexpr double putTimeout = 60;
constexpr double rmTimeout = 30;
constexpr double purgeTimeout = 30;

// The receiver and its request, as the remote side runs them.
QStringList receiverWords(const QString& base, const QStringList& command)
{
    return QStringList { base + QStringLiteral("/bin/tarnel-receiver") } + command;
}

template <class T>
using Parse = std::function<std::optional<T>(const QString& okText)>;

// Runs one command and reads its reply; `okText` is what follows "ok" on the reply line.
template <class T>
Outcome<T> runCommand(const Server& server, const QStringList& command, const std::optional<QByteArray>& input,
    double timeout, const ProcessRunner::CancelToken& cancel, const Parse<T>& parse)
{
    const auto args = ReceiverClient::arguments(server, command);
    if (!args.ok())
        return Outcome<T>::failure(args.failure());
    // Over the shared connection when it is up; otherwise ssh makes it.
    const QString socket = SSHConfig::controlSocket(server, SSHConfig::currentContext().controlDirectory);
    const QString remote = receiverWords(*server.setup.remoteDirAbsolute, command).join(QLatin1Char(' '));
    const std::optional<CommandResult> shared = SharedConnection::run(socket, remote, input, timeout, cancel);
    const CommandResult result =
        shared ? *shared : ProcessRunner::run(ProcessRunner::sshPath(), args.value(), input, timeout, cancel);
    const auto reply = ReceiverClient::replyLine(result.stdout);
    if (result.succeeded() && reply && !reply->startsWith(QLatin1String("err"))) {
        if (auto value = parse(reply->mid(2).trimmed()))
            return Outcome<T>::success(*value);
        return Outcome<T>::failure(QStringLiteral("接收器的回答看不懂：") + reply->left(100));
    }
    return Outcome<T>::failure(ReceiverClient::failure(result, server));
}

std::optional<int> count(const QString& text)
{
    bool number = false;
    const int value = text.toInt(&number);
    return number && value >= 0 ? std::optional<int>(value) : std::nullopt;
}

} // namespace

void ReceiverClient::closeShared(const QList<Server>& servers, double timeoutSeconds)
{
    const QString directory = SSHConfig::currentContext().controlDirectory;
    QElapsedTimer clock;
    clock.start();
    for (const Server& server : servers) {
        const double left = timeoutSeconds - double(clock.elapsed()) / 1000;
        if (left <= 0)
            return;
        SharedConnection::close(SSHConfig::controlSocket(server, directory), left);
    }
}

bool ReceiverClient::isShotName(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9]{8}-[0-9]{6}-[0-9]{1,4}\\.(png|jpg)$"));
    return pattern.match(name).hasMatch();
}

bool ReceiverClient::isRemoteDirectory(const QString& path)
{
    static const QRegularExpression pattern(QStringLiteral("^/[A-Za-z0-9._/@+-]*$"));
    return pattern.match(path).hasMatch();
}

std::optional<QString> ReceiverClient::remotePath(const Server& server, const QString& name)
{
    if (!server.setup.remoteDirAbsolute)
        return std::nullopt;
    return *server.setup.remoteDirAbsolute + QStringLiteral("/shots/") + name;
}

Outcome<QStringList> ReceiverClient::arguments(const Server& server, const QStringList& command)
{
    if (const Outcome<> usable = SSHConfig::check(server, SSHConfig::currentContext()); !usable.ok())
        return Outcome<QStringList>::failure(QStringLiteral("连接设置不能用：") + usable.failure());
    const auto base = server.setup.remoteDirAbsolute;
    if (!base || !isRemoteDirectory(*base))
        return Outcome<QStringList>::failure(QStringLiteral("接收器还没装好：点「重新连接」"));
    const QStringList args { QStringLiteral("-F"), SSHConfig::path(), QStringLiteral("--"), SSHConfig::alias(server) };
    return Outcome<QStringList>::success(args + receiverWords(*base, command));
}

std::optional<QString> ReceiverClient::replyLine(const QString& stdout)
{
    for (const QString& raw : stdout.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line == QLatin1String("ok") || line.startsWith(QLatin1String("ok ")) || line.startsWith(QLatin1String("err ")))
            return line;
    }
    return std::nullopt;
}

QString ReceiverClient::failureMessage(const CommandResult& result, const Server& server)
{
    if (result.cancelled)
        return QStringLiteral("已取消");
    if (result.timedOut)
        return QStringLiteral("连不上（超时）");
    if (result.overflowed)
        return QStringLiteral("接收器的输出太多，已中止");
    const auto reply = replyLine(result.stdout);
    if (reply && reply->startsWith(QLatin1String("err ")))
        return QStringLiteral("接收器报错：") + reply->mid(4).trimmed().left(40);
    const QString& err = result.stderr;
    if (err.contains(QLatin1String("Host key verification failed")) ||
        err.contains(QLatin1String("REMOTE HOST IDENTIFICATION HAS CHANGED")))
        return QStringLiteral("服务器的主机钥匙变了，为安全起见没有连");
    if (result.status == 255 && err.contains(QLatin1String("Permission denied")))
        return QStringLiteral("钥匙被拒：点「重新连接」重新装接收器");
    if (err.contains(QLatin1String("Could not resolve hostname")))
        return QStringLiteral("地址解析不了：") + SSHConfig::unresolvedHost(err, server.host);
    for (const QString& line : err.split(QLatin1Char('\n')))
        if (!line.trimmed().isEmpty())
            return (result.status == 255 ? QStringLiteral("连不上：") : QStringLiteral("没传上：")) + line.trimmed().left(100);
    return QStringLiteral("没传上：退出码 %1").arg(result.status);
}

Failure ReceiverClient::failure(const CommandResult& result, const Server& server)
{
    Failure why{failureMessage(result, server)};
    // ssh answers 255 for its own failures; the receiver never does.
    why.unreachable = !result.cancelled && (result.timedOut || (result.status == 255 && !replyLine(result.stdout)));
    return why;
}

Outcome<QString> ReceiverClient::putNow(
    const Server& server, const QString& localPath, const QString& name, const ProcessRunner::CancelToken& cancel)
{
    if (!isShotName(name))
        return Outcome<QString>::failure(QStringLiteral("截图文件名不对：") + name.left(60));
    QFile file(localPath);
    if (!file.open(QIODevice::ReadOnly))
        return Outcome<QString>::failure(QStringLiteral("读不了本机的截图文件：") + file.errorString());
    const QByteArray bytes = file.readAll();
    return runCommand<QString>(server, { QStringLiteral("put"), name, QString::number(bytes.size()) }, bytes,
        putTimeout, cancel, [](const QString& path) {
            return path.startsWith(QLatin1Char('/')) ? std::optional<QString>(path) : std::nullopt;
        });
}

QFuture<Outcome<ReceiverClient::Ping>> ReceiverClient::ping(const Server& server)
{
    return QtConcurrent::run(ProcessRunner::pool(), [server] {
        return runCommand<Ping>(server, { QStringLiteral("ping") }, std::nullopt, pingTimeout, {},
            [](const QString& text) -> std::optional<Ping> {
                bool number = false;
                const int version = text.section(QLatin1Char(' '), 0, 0).toInt(&number);
                const QString base = text.section(QLatin1Char(' '), 1);
                if (!number || !base.startsWith(QLatin1Char('/')))
                    return std::nullopt;
                return Ping { version, base };
            });
    });
}

QFuture<Outcome<QString>> ReceiverClient::put(
    const Server& server, const QString& localPath, const QString& name, const ProcessRunner::CancelToken& cancel)
{
    return QtConcurrent::run(ProcessRunner::pool(), [=] { return putNow(server, localPath, name, cancel); });
}

QFuture<Outcome<int>> ReceiverClient::rm(const Server& server, const QStringList& names)
{
    return QtConcurrent::run(ProcessRunner::pool(), [server, names] {
        for (const QString& name : names)
            if (!isShotName(name))
                return Outcome<int>::failure(QStringLiteral("截图文件名不对：") + name.left(60));
        return runCommand<int>(server, QStringList { QStringLiteral("rm") } + names, std::nullopt, rmTimeout, {}, count);
    });
}

QFuture<Outcome<int>> ReceiverClient::purge(const Server& server, int keepHours, qint64 maxBytes)
{
    return QtConcurrent::run(ProcessRunner::pool(), [=] {
        return runCommand<int>(server,
            { QStringLiteral("purge"), QString::number(std::max(0, keepHours)), QString::number(std::max<qint64>(0, maxBytes)) },
            std::nullopt, purgeTimeout, {}, count);
    });
}
