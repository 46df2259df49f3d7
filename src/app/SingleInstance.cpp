#include "app/SingleInstance.h"

#include "state/Log.h"
#include "state/Paths.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

namespace {
const QByteArray showMessage = QByteArrayLiteral("show-main-window\n");
const QByteArray handoffMessage = QByteArrayLiteral("handoff\n");
} // namespace

SingleInstance::SingleInstance(QString socketPath, QObject* parent) : QObject(parent), path(std::move(socketPath)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultSocketPath() { return Paths::controlDirectory() + QStringLiteral("/instance.sock"); }

bool SingleInstance::otherRunning() const
{
    QLocalSocket socket;
    socket.connectToServer(path);
    const bool connected = socket.waitForConnected(1000);
    socket.abort();
    return connected;
}

bool SingleInstance::send(const QByteArray& message) const
{
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(1000))
        return false;
    socket.write(message);
    const bool written = socket.waitForBytesWritten(1000);
    socket.waitForReadyRead(1000); // the running instance answers with its pid
    socket.disconnectFromServer();
    return written;
}

SingleInstance::Decision SingleInstance::claim(bool takeOver, int handoffWaitMs)
{
    if (!otherRunning())
        return Decision::proceed;
    if (!takeOver) {
        send(showMessage);
        return Decision::exit;
    }
    send(handoffMessage);
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < handoffWaitMs) {
        QThread::msleep(200);
        if (!otherRunning())
            return Decision::proceed;
    }
    return Decision::exit;
}

bool SingleInstance::lockDataFolder(const QString& folder, int waitMs)
{
    Paths::ensure(folder);
    const QByteArray file = QFile::encodeName(folder + QStringLiteral("/tarnel.lock"));
    // Close-on-exec: ssh masters and the link program must not keep the folder locked after we go.
    folderLock.reset(::open(file.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!folderLock.open()) {
        Log::write(QStringLiteral("单实例：打不开数据文件夹的锁文件 %1").arg(QFile::decodeName(file)));
        return true; // a folder we cannot write fails later with its own words
    }
    QElapsedTimer waited;
    waited.start();
    while (::flock(folderLock.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK || waited.elapsed() >= waitMs) {
            folderLock.close();
            return false;
        }
        QThread::msleep(100);
    }
    return true;
}

bool SingleInstance::listen()
{
    if (server)
        return true;
    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(path);
    if (!server->listen(path)) {
        Log::write(QStringLiteral("单实例：监听失败（%1）").arg(server->errorString()));
        return false;
    }
    connect(server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine())
                    return;
                const QByteArray line = socket->readLine(64);
                socket->write(QByteArray::number(QCoreApplication::applicationPid()) + '\n');
                socket->flush();
                if (line == showMessage)
                    Q_EMIT showMainWindowRequested();
                else if (line == handoffMessage)
                    Q_EMIT handoffRequested();
            });
        }
    });
    return true;
}
