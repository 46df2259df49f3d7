#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

// A listening socket (TCP or Unix-domain) whose new connections arrive as descriptors.
class Listener : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Listener() override;

    // An error text, or none. A Unix socket is created with mode 0600 (a stale file must be gone first).
    std::optional<QString> listenTcp(const QHostAddress& address, int port);
    std::optional<QString> listenUnix(const QString& path);
    int port() const { return boundPort; }
    void close();

    // How long accepting rests after the system had no descriptor or memory for a new connection.
    static constexpr int pauseMs = 250;

Q_SIGNALS:
    void accepted(int fd, const QHostAddress& from);

private:
    std::optional<QString> start(int fd);
    void acceptAll();
    void pause();

    int fd = -1;
    int boundPort = 0;
    QSocketNotifier* notifier = nullptr;
};

// One outgoing TCP connection attempt with a time limit.
class Connector : public QObject {
    Q_OBJECT
public:
    Connector(const QHostAddress& address, int port, int timeoutMs, QObject* parent = nullptr);
    ~Connector() override;

Q_SIGNALS:
    void connected(int fd); // the caller owns it now
    void failed(const QString& reason);

private:
    void finish();
    void giveUp(const QString& reason);

    int fd = -1;
    QSocketNotifier* notifier = nullptr;
    QTimer timer;
};
