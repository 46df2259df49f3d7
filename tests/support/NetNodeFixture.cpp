#include "support/NetNodeFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QThread>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

NetNodeFixture::NetNodeFixture()
{
    QDir().mkpath(stateDir());
    QProcess keygen;
    keygen.start(QStringLiteral("ssh-keygen"), {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                                                 QStringLiteral("-N"), QString(), QStringLiteral("-f"), privateKeyPath()});
    keygen.waitForFinished(30000);
}

NetNodeFixture::~NetNodeFixture() { stop(); }

QString NetNodeFixture::binary() { return QStringLiteral(TARNEL_BINARY_DIR "/bin/tarnel-net"); }

QString NetNodeFixture::tokenPath() const { return QDir(stateDir()).filePath(QStringLiteral("token")); }

void NetNodeFixture::writeToken(const QString& token) const
{
    QFile file(tokenPath() + QStringLiteral(".tmp"));
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(token.toUtf8() + "\n");
    file.close();
    QFile::remove(tokenPath());
    file.rename(tokenPath());
}

bool NetNodeFixture::start(const Options& options)
{
    QJsonObject config{{QStringLiteral("listen"), QStringLiteral("127.0.0.1")},
                       {QStringLiteral("port"), 0},
                       {QStringLiteral("advertise"), QJsonArray{QStringLiteral("127.0.0.1")}},
                       {QStringLiteral("syncMs"), 500},
                       {QStringLiteral("pingMs"), 2000},
                       {QStringLiteral("relayAfterMs"), 1500},
                       {QStringLiteral("maxBackoffMs"), 2000}};
    for (auto it = options.config.begin(); it != options.config.end(); ++it)
        config.insert(it.key(), it.value());
    QFile file(QDir(stateDir()).filePath(QStringLiteral("config.json")));
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(QJsonDocument(config).toJson());
    file.close();

    QStringList args{QStringLiteral("serve"),       QStringLiteral("--state"),      stateDir(),
                     QStringLiteral("--server"),    options.server.toString(),     QStringLiteral("--token-file"),
                     tokenPath(),                   QStringLiteral("--name"),       options.name,
                     QStringLiteral("--ssh-user"),  options.sshUser,               QStringLiteral("--pubkey-file"),
                     publicKeyPath(),               QStringLiteral("--hostkey-file"), options.hostKeyFile,
                     QStringLiteral("--app-build"), QStringLiteral("42"),          QStringLiteral("--fallback-server"),
                     options.fallbackServer};
    if (options.parentPid > 0)
        args << QStringLiteral("--parent-pid") << QString::number(options.parentPid);
    if (options.allowInbound)
        args << QStringLiteral("--allow-inbound");
    QProcessEnvironment env;
    env.insert(QStringLiteral("HOME"), dir.path());
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("zh_CN.UTF-8"));
    serve.setProcessEnvironment(env);
    serve.setProcessChannelMode(QProcess::MergedChannels);
    if (options.launcher.isEmpty())
        serve.start(binary(), args);
    else
        serve.start(options.launcher.first(), options.launcher.mid(1) + QStringList{binary()} + args);
    if (!serve.waitForStarted(10000))
        return false;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000 && serve.state() == QProcess::Running) {
        if (!status().isEmpty())
            return true;
        serve.waitForReadyRead(20); // also the pause between tries
    }
    return false;
}

int NetNodeFixture::waitForExit(int timeoutMs)
{
    if (serve.state() != QProcess::NotRunning && !serve.waitForFinished(timeoutMs))
        return -1;
    return serve.exitStatus() == QProcess::NormalExit ? serve.exitCode() : -1;
}

void NetNodeFixture::stop()
{
    if (serve.state() == QProcess::NotRunning)
        return;
    serve.terminate();
    if (!serve.waitForFinished(5000)) {
        serve.kill();
        serve.waitForFinished(5000);
    }
}

QString NetNodeFixture::output() const
{
    log += serve.readAll();
    return QString::fromUtf8(log);
}

int NetNodeFixture::listenPort() const
{
    const auto match = QRegularExpression(QStringLiteral("端口 (\\d+)")).match(output());
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

QByteArray NetNodeFixture::requestLine(const QByteArray& line, int timeoutMs) const
{
    const QByteArray path = QFile::encodeName(QDir(stateDir()).filePath(QStringLiteral("net.sock")));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    QByteArray reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, line.constData(), size_t(line.size()), MSG_NOSIGNAL) == line.size()) {
        char chunk[4096];
        ssize_t n = 0;
        while (!reply.contains('\n') && (n = ::recv(fd, chunk, sizeof chunk, 0)) > 0)
            reply.append(chunk, int(n));
    }
    ::close(fd);
    return reply.contains('\n') ? reply.left(reply.indexOf('\n')) : QByteArray();
}

QJsonObject NetNodeFixture::request(const QJsonObject& request, int timeoutMs) const
{
    return QJsonDocument::fromJson(requestLine(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n', timeoutMs))
        .object();
}

QString NetNodeFixture::deviceId() const
{
    QFile file(QDir(stateDir()).filePath(QStringLiteral("device-id")));
    file.open(QIODevice::ReadOnly);
    return QString::fromLatin1(file.readAll().trimmed());
}

QString NetNodeFixture::publicKeyLine() const
{
    QFile file(publicKeyPath());
    file.open(QIODevice::ReadOnly);
    return QString::fromUtf8(file.readAll().trimmed());
}

bool NetNodeFixture::siteOk() const
{
    return status().value(QStringLiteral("site")).toObject().value(QStringLiteral("ok")).toBool();
}

QJsonObject NetNodeFixture::peer(const QString& id) const
{
    for (const QJsonValue& item : status().value(QStringLiteral("peers")).toArray())
        if (item.toObject().value(QStringLiteral("id")).toString() == id)
            return item.toObject();
    return {};
}

NetNodeFixture::DialRun NetNodeFixture::dial(const QString& device, int port, const QByteArray& input) const
{
    QProcess process;
    process.start(binary(), {QStringLiteral("dial"), QStringLiteral("--state"), stateDir(), device, QString::number(port)});
    process.waitForStarted(10000);
    process.write(input);
    process.closeWriteChannel();
    DialRun run;
    if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QStringList NetNodeFixture::sshArguments(const QString& device, const QString& user, const QString& command) const
{
    return {QStringLiteral("-F"), QStringLiteral("/dev/null"), QStringLiteral("-i"), privateKeyPath(),
            QStringLiteral("-o"), QStringLiteral("BatchMode=yes"), QStringLiteral("-o"),
            QStringLiteral("StrictHostKeyChecking=no"), QStringLiteral("-o"), QStringLiteral("UserKnownHostsFile=/dev/null"),
            QStringLiteral("-o"), QStringLiteral("LogLevel=ERROR"), QStringLiteral("-o"),
            QStringLiteral("ProxyCommand=\"%1\" dial --state \"%2\" %3 22").arg(binary(), stateDir(), device),
            QStringLiteral("-l"), user, QStringLiteral("--"), QStringLiteral("peer"), command};
}
