#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QThread>
#include <atomic>

class QTcpServer;
class QTcpSocket;

// A TCP forwarder that holds every byte for a set time each way before passing it on, in order: a server
// that stands far away (a relay across the internet) while the machines themselves sit side by side.
// Runs on a thread of its own, so a test blocked in a wait does not hold the traffic up; with no delay it
// forwards at once.
class DelayProxy {
public:
    DelayProxy();
    ~DelayProxy();
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    // Listens on `port` of `at` (0: a free one); false when it cannot.
    bool listen(const QHostAddress& at, quint16 port = 0);
    quint16 port() const { return boundPort; }
    // Where each connection from now on goes.
    void forwardTo(const QHostAddress& host, quint16 hostPort);
    void setDelayMs(int ms) { delayMs = ms; }
    // While held nothing passes either way, as over a route that went dead; what came meanwhile goes on
    // once it is let go.
    void setHeld(bool on) { held = on; }
    // Connections accepted so far.
    int connections() const { return accepted_; }

private:
    void accepted();
    // Forwards what `from` reads to `to`, each chunk `delayMs` after it came; the end likewise.
    void carry(QTcpSocket* from, QTcpSocket* to);

    QThread thread;
    QObject* context; // lives on the thread
    QTcpServer* server = nullptr;
    quint16 boundPort = 0;
    QHostAddress target;
    quint16 targetPort = 0;
    std::atomic<int> delayMs{0};
    std::atomic<bool> held{false};
    std::atomic<int> accepted_{0};
    QElapsedTimer clock;
};
