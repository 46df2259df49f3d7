#pragma once

#include "platform/ProcessRunner.h"
#include "delivery/SSHSession.h"
#include "state/Server.h"
#include "state/Settings.h"

#include <QHash>
#include <QObject>
#include <functional>

class Flash;
class ShotStore;
struct Shot;
struct Upload;

// Sends stored shots to the destinations through the receiver, records every upload in the shot store
// and flashes a summary. Lives on the main thread; the ssh runs happen on workers.
class Uploader : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        std::function<QList<Server>()> servers;
        std::function<Settings()> settings;
        // The user's live ssh sessions; called on a worker thread.
        std::function<QList<SSHSession>()> sessions;
        // The destination's receiver is being set up right now (its key is not installed yet).
        std::function<bool(const Server&)> settingUp;
        // A put found the destination refusing our key or out of reach (after its retry), with the reason;
        // a put got through. Optional.
        std::function<void(const Server&, const QString& why)> unreachable;
        std::function<void(const Server&)> reached;
    };

    Uploader(ShotStore& shots, Flash& flash, Hooks hooks, QObject* parent = nullptr);

    // A stored or updated shot goes to every chosen destination in parallel (one retry after a second);
    // the other set-up destinations are marked skipped, and one whose receiver is being set up gets it
    // once that is done. An update cancels puts of the old content.
    void upload(const QString& name, bool isUpdate);
    // The destinations changed: shots waiting for a receiver that is ready now go to it; those whose
    // receiver could not be set up (or is off) are marked failed.
    void serversChanged();
    // The shot to every set-up destination that does not have it yet.
    void fillMissing(const QString& name);
    // Today's shots that are not on this destination yet, one after another.
    void fillServer(const Server& server);
    // One shot to one destination, for a paste that waits for it; `done` gets what was recorded.
    void uploadTo(const QString& name, const Server& server, std::function<void(const Upload&)> done);
    // Removes shots on the active destinations.
    void remove(const QStringList& names);
    // Applies the retention settings on the active destinations.
    void purgeRemote();

    void setRetryDelay(int milliseconds) { retryDelayMs = milliseconds; }

    // Enabled with the key installed; a smart-only one only while a session goes to it.
    static bool isChosen(const Server& server, const QList<SSHSession>& sessions);
    static bool isActive(const Server& server) { return server.enabled && server.setup.keyInstalled; }

Q_SIGNALS:
    // A shot's round of uploads is over and its summary is on its way to the flash.
    void roundFinished(const QString& name);
    void serverFilled(const QUuid& serverId);

private:
    struct Round;
    void startRound(const QString& name, quint64 generation, const QList<Server>& targets,
        const QList<Server>& skipped, bool purgeAfter, const QList<Server>& awaiting = {});
    // Puts one shot on one destination, retrying once; `done` gets the remote path or the failure.
    void send(const Shot& shot, const Server& server, int attempt, quint64 generation,
        std::function<void(bool ok, const QString& detail)> done);
    // send() announced per shot and destination, so a paste waiting for the same put joins it.
    void deliver(const Shot& shot, const Server& server, quint64 generation,
        std::function<void(bool ok, const QString& detail)> done);
    void record(const Shot& shot, const Server& server, bool ok, const QString& detail);
    void fillNext(const Server& server, QStringList names, int succeeded, int failed);
    QList<Server> activeServers() const;
    static QString label(const Shot& shot);
    // The flash for a shot sent nowhere, naming the smart-mode servers that no ssh session goes to.
    static QString keptLocallyText(const QList<Server>& skipped);
    // Shows a summary, with the shot's picture when there is one (read off the main thread).
    void notify(const QString& text, const QString& imagePath = {});

    ShotStore& shots;
    Flash& flash;
    Hooks hooks;
    int retryDelayMs = 1000;
    // Raised by an update: answers for an older generation of a shot are dropped.
    QHash<QString, quint64> generations;
    QHash<QUuid, QStringList> awaitingSetup; // shot names by destination
    QHash<QString, QList<ProcessRunner::CancelToken>> running;
    // Puts under way per "shot/destination id", and the pastes waiting for their outcome.
    struct Pending {
        int sends = 0;
        QList<std::function<void(const Upload&)>> waiting;
    };
    QHash<QString, Pending> pending;
};
