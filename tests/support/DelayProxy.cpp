#include "DelayProxy.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <deque>
#include <memory>

DelayProxy::DelayProxy() : context(new QObject)
{
    clock.start();
    context->moveToThread(&thread);
    thread.start();
}

DelayProxy::~DelayProxy()
{
    QMetaObject::invokeMethod(context, [this] { delete server; }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
    delete context;
}

bool DelayProxy::listen(const QHostAddress& at, quint16 port)
{
    bool listening = false;
    QMetaObject::invokeMethod(context, [&] {
        server = new QTcpServer;
        QObject::connect(server, &QTcpServer::newConnection, context, [this] { accepted(); });
        listening = server->listen(at, port);
        boundPort = server->serverPort();
    }, Qt::BlockingQueuedConnection);
    return listening;
}

void DelayProxy::forwardTo(const QHostAddress& host, quint16 hostPort)
{
    QMetaObject::invokeMethod(context, [&] {
        target = host;
        targetPort = hostPort;
    }, Qt::BlockingQueuedConnection);
}

void DelayProxy::accepted()
{
    while (QTcpSocket* in = server->nextPendingConnection()) {
        ++accepted_;
        auto* out = new QTcpSocket(in); // writes wait in its buffer until it is connected
        out->connectToHost(target, targetPort);
        carry(in, out);
        carry(out, in);
        QObject::connect(out, &QAbstractSocket::errorOccurred, in, [in] { in->disconnectFromHost(); });
        // Gone once both ends are closed and what was held for them was passed on.
        const auto tidy = [in, out] {
            if (in->state() == QAbstractSocket::UnconnectedState && out->state() == QAbstractSocket::UnconnectedState)
                in->deleteLater();
        };
        QObject::connect(in, &QAbstractSocket::stateChanged, in, tidy);
        QObject::connect(out, &QAbstractSocket::stateChanged, in, tidy);
    }
}

void DelayProxy::carry(QTcpSocket* from, QTcpSocket* to)
{
    struct Chunk {
        qint64 dueMs;
        QByteArray bytes; // empty: the end
    };
    auto queue = std::make_shared<std::deque<Chunk>>();
    auto* timer = new QTimer(to);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    const auto deliver = [this, queue, timer, to] {
        while (!held && !queue->empty() && queue->front().dueMs <= clock.elapsed()) {
            const QByteArray bytes = std::move(queue->front().bytes);
            queue->pop_front();
            if (bytes.isEmpty())
                to->disconnectFromHost();
            else
                to->write(bytes);
        }
        if (!queue->empty()) // while held, looked at again every few ms
            timer->start(held ? 20 : int(std::max<qint64>(0, queue->front().dueMs - clock.elapsed())));
    };
    QObject::connect(timer, &QTimer::timeout, to, deliver);
    const auto take = [this, queue, deliver](QByteArray bytes) {
        queue->push_back({clock.elapsed() + delayMs, std::move(bytes)});
        deliver();
    };
    QObject::connect(from, &QIODevice::readyRead, to, [from, take] {
        if (const QByteArray bytes = from->readAll(); !bytes.isEmpty())
            take(bytes);
    });
    QObject::connect(from, &QAbstractSocket::disconnected, to, [from, take] {
        if (from->isOpen() && from->bytesAvailable() > 0)
            take(from->readAll());
        take({});
    });
}
