#include "Dial.h"

#include "LineReader.h"
#include "PlainStream.h"
#include "Splice.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

Dial::Dial(const QString& stateDir, const QString& device, int port, QObject* parent) : QObject(parent)
{
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, this, [this] { fail(QStringLiteral("tarnel-net：15 秒内连不上对方，稍后再试")); });
    limit.start(limitMs);

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(QDir(stateDir).filePath(QStringLiteral("dial.sock")));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (path.size() >= qsizetype(sizeof address.sun_path) || fd < 0) {
        QMetaObject::invokeMethod(this, [this] { fail(QStringLiteral("tarnel-net：state 路径太长，连不上")); },
                                  Qt::QueuedConnection);
        return;
    }
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        QMetaObject::invokeMethod(this, [this] { fail(QStringLiteral("tarnel-net：设备互联没有在运行，连不上")); },
                                  Qt::QueuedConnection);
        return;
    }
    socket = new PlainStream(fd, this);
    socket->write(QJsonDocument(QJsonObject{{QStringLiteral("peer"), device}, {QStringLiteral("port"), port}})
                      .toJson(QJsonDocument::Compact) +
                  '\n');
    reader = new LineReader(socket, 64 * 1024, 0, this);
    connect(reader, &LineReader::message, this, [this](const QJsonObject& reply) {
        const QByteArray rest = reader->detach();
        reader->deleteLater();
        if (reply.value(QStringLiteral("ok")).toBool())
            return connected(rest);
        const QString error = reply.value(QStringLiteral("error")).toString();
        fail(error.contains(QLatin1String("tarnel-net")) ? error : QStringLiteral("tarnel-net：连不上对方"));
    });
    connect(reader, &LineReader::failed, this, [this] { fail(QStringLiteral("tarnel-net：设备互联中途断了，稍后再试")); });
}

void Dial::connected(const QByteArray& rest)
{
    limit.stop();
    stdio = new PlainStream(STDIN_FILENO, STDOUT_FILENO, this);
    splice = new Splice(stdio, socket, {}, rest, this);
    // The far side closing ends the dial once its last bytes are out on standard output.
    connect(splice, &Splice::ended, this, [this](Stream* from) {
        if (from == socket && !over) {
            over = true;
            QCoreApplication::exit(0);
        }
    });
    connect(splice, &Splice::finished, this, [this] {
        if (!std::exchange(over, true))
            QCoreApplication::exit(0);
    });
}

void Dial::fail(const QString& text)
{
    if (std::exchange(over, true))
        return;
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
    QCoreApplication::exit(1);
}
