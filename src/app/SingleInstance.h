#pragma once

#include <QObject>
#include <functional>

class QLocalServer;

// One running tarnel per user. A per-user local socket stands for "the running instance": a newcomer
// either asks it to show its panel and leaves, or (started by the keep-alive agent, or right after a
// deliberate relaunch) asks it to hand over and waits for it to go.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Decision { proceed, exit };

    explicit SingleInstance(QString socketPath, QObject* parent = nullptr);
    ~SingleInstance() override;

    static QString defaultSocketPath();

    // Decides at start-up whether this process goes on. Blocks for up to `handoffWaitMs` while an older
    // instance hands over. `takeOver` is true when started by the agent or right after a relaunch.
    Decision claim(bool takeOver, int handoffWaitMs = 8000);

    // Starts answering newcomers; a stale socket left by a crash is replaced.
    bool listen();

    // True when another instance answers on the socket.
    bool otherRunning() const;

Q_SIGNALS:
    void showMainWindowRequested();
    void handoffRequested();

private:
    bool send(const QByteArray& message) const;

    QString path;
    QLocalServer* server = nullptr;
};
