// Stands in for the link program. Records each start (argv, environment) in <state>/runs.jsonl and each
// request in <state>/commands.jsonl, answers on <state>/net.sock, and follows <state>/fake.json, read at
// start and at every request:
//   "status": a status document to answer with (its pid is filled in)
//   "replies": {"<cmd>": an object} answers a command with that object instead
//   "ignoreTerm": SIGTERM does nothing
//   "stayOnQuit": answers quit but keeps running
//   "delayMs": waits this long before each answer
#include "link/LinkStatus.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <unistd.h>

extern char** environ;

namespace {
QString stateDir;

QJsonObject script()
{
    QFile file(stateDir + QStringLiteral("/fake.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

void appendLine(const QString& name, const QJsonObject& object)
{
    QFile file(stateDir + QLatin1Char('/') + name);
    if (file.open(QIODevice::Append))
        file.write(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

QByteArray answer(const QJsonObject& request, bool allowInbound)
{
    const QJsonObject config = script();
    const QString cmd = request.value(QStringLiteral("cmd")).toString();
    const QJsonObject replies = config.value(QStringLiteral("replies")).toObject();
    if (replies.contains(cmd))
        return QJsonDocument(replies.value(cmd).toObject()).toJson(QJsonDocument::Compact);
    NodeStatus status = NodeStatus::decode(config.value(QStringLiteral("status")).toObject());
    status.pid = ::getpid();
    status.allowInbound = allowInbound;
    return status.toLine();
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const qsizetype stateAt = args.indexOf(QStringLiteral("--state"));
    if (stateAt < 0 || stateAt + 1 >= args.size())
        return 64;
    stateDir = args[stateAt + 1];
    bool allowInbound = args.contains(QStringLiteral("--allow-inbound"));

    QJsonArray environment;
    for (char** entry = environ; *entry; ++entry)
        environment.append(QString::fromLocal8Bit(*entry));
    appendLine(QStringLiteral("runs.jsonl"), {{QStringLiteral("pid"), qint64(::getpid())},
                                              {QStringLiteral("args"), QJsonArray::fromStringList(args)},
                                              {QStringLiteral("env"), environment}});
    std::printf("fake link program %d started\n", int(::getpid()));
    std::fflush(stdout);
    std::fprintf(stderr, "fake link program %d says hello on stderr\n", int(::getpid()));

    const QJsonObject config = script();
    if (config.value(QStringLiteral("ignoreTerm")).toBool())
        std::signal(SIGTERM, SIG_IGN);
    QLocalServer server;
    const QString path = stateDir + QStringLiteral("/net.sock");
    QLocalServer::removeServer(path);
    if (!server.listen(path))
        return 65;
    QObject::connect(&server, &QLocalServer::newConnection, [&] {
        while (QLocalSocket* socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, &allowInbound] {
                if (!socket->canReadLine())
                    return;
                QJsonObject request = QJsonDocument::fromJson(socket->readLine()).object();
                const QString cmd = request.value(QStringLiteral("cmd")).toString();
                if (cmd == QLatin1String("allow"))
                    allowInbound = request.value(QStringLiteral("on")).toBool();
                const QByteArray reply = answer(request, allowInbound) + '\n';
                request.insert(QStringLiteral("pid"), qint64(::getpid()));
                appendLine(QStringLiteral("commands.jsonl"), request);
                const QJsonObject config = script();
                QTimer::singleShot(config.value(QStringLiteral("delayMs")).toInt(), socket, [socket, reply, cmd, config] {
                    socket->write(reply);
                    socket->flush();
                    socket->disconnectFromServer();
                    if (cmd == QLatin1String("quit") && !config.value(QStringLiteral("stayOnQuit")).toBool())
                        QCoreApplication::exit(0);
                });
            });
        }
    });
    return app.exec();
}
