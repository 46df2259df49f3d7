#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

// A TCP forwarder that holds every byte for a set time each way before passing it on, in order: a server
// that stands far away (a relay across the internet) while the machines themselves sit side by side.
// Runs on the test's event loop; with no delay it forwards at once.
class DelayProxy : public QObject {
public:
    // Listens on `port` of `at` (0: a free one); false when it cannot.
    bool listen(const QHostAddress& at, quint16 port = 0);
    quint16 port() const { return server.serverPort(); }
    // Where each connection from now on goes.
    void forwardTo(const QHostAddress& host, quint16 hostPort)
    {
        target = host;
        targetPort = hostPort;
    }
    void setDelayMs(int ms) { delayMs = ms; }

private:
    void accepted();
    // Forwards what `from` reads to `to`, each chunk `delayMs` after it came; the end likewise.
    void carry(QTcpSocket* from, QTcpSocket* to);

    QTcpServer server;
    QHostAddress target;
    quint16 targetPort = 0;
    int delayMs = 0;
    QElapsedTimer clock;
};
