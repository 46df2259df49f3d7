#pragma once

#include "platform/Fd.h"

#include <QObject>
#include <functional>

class QLocalServer;

// One running tarnel per user. A per-user local socket stands for "the running instance": a newcomer
// either asks it to show its panel and leaves, or (started by the keep-alive agent, or right after a
// deliberate relaunch) asks it to hand over and waits for it to go. Beside that, one running tarnel per
// data folder, also under a data-folder override: a lock on a file in the folder, held until the process ends.
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

    // Takes the data folder's lock (made with the folder when missing); waits up to `waitMs` for a holder on
    // its way out. False when another process holds it.
    bool lockDataFolder(const QString& folder, int waitMs = 0);

Q_SIGNALS:
    void showMainWindowRequested();
    void handoffRequested();

private:
    bool send(const QByteArray& message) const;

    QString path;
    QLocalServer* server = nullptr;
    Fd folderLock;
};
