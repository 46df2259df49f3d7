#pragma once

#include "link/LinkStatus.h"
#include "link/SleepGuard.h"
#include "link/Tunnel.h"
#include "link/TunnelChecks.h"
#include "platform/ProcessRunner.h"
#include "state/Outcome.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFuture>
#include <QObject>
#include <QSet>
#include <QThreadPool>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

class NetworkMonitor;
class SleepInhibitor;

// Owns the device link for the life of the process: writes the account token for the link program
// tarnel-net, starts it with its fixed command line and environment, relaunches it after an unexpected exit
// with a growing delay, tells it to quit on stop, talks to it over its control socket and publishes its
// status. Main thread only; socket exchanges run on one serial worker (the link queue).
//
// Every launch and every stop opens a new generation: an exit report, a poll result or a command reply of
// an earlier generation, or one that arrives after stop(), is dropped.
class LinkManager : public QObject {
    Q_OBJECT
public:
    // The state of the link program's process.
    struct Helper {
        enum class Kind { unavailable, running, failed, stopped };
        Kind kind = Kind::stopped;
        QString text; // the reason (unavailable) or the ready message (failed)
        qint64 pid = 0;

        static Helper unavailable(const QString& reason) { return {Kind::unavailable, reason, 0}; }
        static Helper running(qint64 pid) { return {Kind::running, {}, pid}; }
        static Helper failed(const QString& message) { return {Kind::failed, message, 0}; }
        static Helper stopped() { return {}; }
        QString label() const;
        bool operator==(const Helper&) const = default;
    };

    // Delays, injectable so tests need not wait them out.
    struct Intervals {
        int firstPollMs = 1000;       // after a launch, so a program still binding its socket shows no error
        int pollMs = 15000;
        int fastPollMs = 3000;
        int netchangeMs = 1000;       // quiet time after the last network change
        int relaunchMs = 5000;        // first relaunch delay; doubles on each quick exit
        int relaunchMaxMs = 60000;
        int steadyRunMs = 60000;      // a run this long sets the delay back to its start
        int exitCheckInGapMs = 60000; // at most one check-in per this interval for exits
        int quitMs = 2000;            // the quit request
        int killGraceMs = 2000;       // from SIGTERM to SIGKILL
    };

    LinkManager(SleepInhibitor& inhibitor, NetworkMonitor& network, QObject* parent = nullptr);
    ~LinkManager() override; // shuts down like shutdown()

    // Hooks, set once by the application core.
    std::function<std::optional<QString>()> tokenProvider = [] { return std::nullopt; };
    std::function<bool()> allowInboundProvider = [] { return false; };
    std::function<QStringList()> seenDevices = [] { return QStringList(); };
    std::function<void(const QStringList&)> saveSeenDevices = [](const QStringList&) {};
    std::function<void(const PeerDevice&)> onNewDevice = [](const PeerDevice&) {};
    std::function<void(const PeerDevice&)> onDeviceRemoved = [](const PeerDevice&) {};
    std::function<QStringList()> wantedProvider = [] { return QStringList(); };
    std::function<void(const QStringList&)> saveWanted = [](const QStringList&) {};
    std::function<void(int status)> onHelperExit = [](int) {};
    // tarnel-net's exit status when the account service no longer accepts its sign-in.
    static constexpr int accountRefusedExit = 3;
    std::function<void(const PeerDevice&)> onTunnelOpened = [](const PeerDevice&) {};
    // Where the link program is; none when it is missing. Asked at every start and relaunch.
    std::function<std::optional<QString>()> programPath;

    void setIntervals(const Intervals& intervals) { delays = intervals; }

    void start();
    void stop(const QString& reason);
    // At application exit: stops, asks the program to quit (at most 2 s), then SIGTERM, SIGKILL after the
    // grace time, and reaps it. Blocks up to about 4 s; no program is left behind.
    void shutdown();

    void setAllowInbound(bool on);
    // Writes the account token for the link program; false when there is none or it cannot be written.
    bool writeToken();
    // Removes the token file (after a sign-out).
    void removeToken();

    // Checks the name and alias, then asks the link program to rename this machine.
    QFuture<Outcome<>> rename(const QString& name, const QString& alias);
    void netChanged();

    // ---- the devices page
    QList<PeerDevice> onlinePeers() const;
    QList<PeerDevice> offlinePeers() const;
    // Online peers with a client key: the ones whose key the user may allow on this machine.
    QList<PeerDevice> keyLinesForOthers() const;
    // The ssh state of one peer (idle when never checked); all of them by device id.
    Tunnel tunnel(const PeerDevice& peer) const { return checks.tunnel(peer); }
    const QHash<QString, Tunnel>& tunnels() const { return checks.all(); }
    // Wants the peer open and checks an ssh login to it; the outcome arrives in tunnel() (changed()).
    void openTunnel(const PeerDevice& peer, bool automatic = false);
    // Idle and no longer wanted; the outcome of a check under way is dropped.
    void closeTunnel(const PeerDevice& peer);
    // The ssh command to show for an open peer: short when ~/.ssh/config includes the device config.
    QString commandText(const PeerDevice& peer) const;
    // The long form, which works from any terminal.
    static QString longCommandText(const PeerDevice& peer);
    // The shell line that allows the peer's key on this machine (the page copies it with a line feed).
    static QString keyAddCommand(const PeerDevice& peer);
    // Opens a terminal window logged in to the peer; the failure is a message for the page.
    Outcome<> openTerminal(const PeerDevice& peer) const;
    // Starts the terminal program; false when none is found.
    static bool openTerminalApp();
    // Removes the peer from the account; on success logs, calls onDeviceRemoved and polls.
    QFuture<Outcome<>> remove(const PeerDevice& peer);

    // Runs the ssh checks (tests inject their own).
    void setCheckRunner(TunnelChecks::Runner runner) { checks.runner = std::move(runner); }

    void poll();
    void reschedule();
    void setPollFast(bool fast);

    // Where the poll looks for authorized_keys and config, and the port of its ssh-server probe.
    QString sshDirectory;
    quint16 sshdPort = 22;

    // Ids of the peers whose client key (the second word of `sshPubKey`) appears in an authorized_keys text.
    static QSet<QString> authorizedKeyIDs(const QString& authorizedKeys, const QList<PeerDevice>& peers);
    // Whether an ssh client configuration includes `path` before its first Host or Match block.
    static bool configIncludesDevices(const QString& config, const QString& path);
    // Online first, then by shown name: case-insensitive, runs of digits by value; stable.
    static QList<PeerDevice> sortedPeers(QList<PeerDevice> peers);
    static QString devicesConfigPath();
    static QString devicesKnownHostsPath();

    bool available() const { return programPath().has_value(); }
    bool isStarted() const { return started; }
    bool pollInFlight() const { return polling; }
    bool pollsFast() const { return pollFast; }
    const Helper& helper() const { return state; }
    const std::optional<NodeStatus>& status() const { return document; }
    const QList<PeerDevice>& peers() const { return peerList; }
    int onlineCount() const;
    const std::optional<QString>& lastError() const { return error; }
    const std::optional<QDateTime>& lastPollAt() const { return polledAt; }
    const QSet<QString>& wantedTunnels() const { return checks.wanted(); }
    bool sshdListening() const { return sshdUp; }
    const QSet<QString>& authorizedKeyIDs() const { return keyIDs; }
    bool sshConfigIncluded() const { return includeFound; }
    bool sleepGuardActive() const { return guard.active(); }
    // The delay of the pending relaunch in milliseconds; none when no relaunch is pending.
    std::optional<int> pendingRelaunchMs() const;

    static QString socketPath();
    static QString tokenPath();
    static QString logPath();
    // This machine's name as shown to the other machines: PRETTY_HOSTNAME, else the host name.
    static QString machineName();

Q_SIGNALS:
    void changed();
    void peersChanged();
    // A status document was applied (from a poll or a command reply).
    void statusApplied();

private:
    struct Reply {
        std::optional<NodeStatus> document;
        std::optional<QString> error;
    };
    struct PollResult {
        std::optional<NodeStatus> document;
        std::optional<QString> error;
        bool sshd = false;
        QString authorizedKeys;
        bool includesDevices = false;
    };

    void launch();
    void spawnWhenClear(quint64 launchGeneration);
    void spawn();
    QStringList arguments() const;
    void quitLeftover(std::function<void()> then);
    void retire(std::shared_ptr<ProcessRunner::Child> child);
    void childEnded(const ProcessRunner::Child* child, int status);
    void processEnded(int status);
    void relaunch();
    quint64 nextGeneration();
    bool current(quint64 gen) const { return started && gen == generation; }

    QFuture<Outcome<>> command(const QJsonObject& json);
    void apply(const std::optional<NodeStatus>& status, const std::optional<QString>& failure, bool sshd,
        const std::optional<QString>& authorizedKeys, std::optional<bool> includesDevices);
    void syncFilesIfNeeded(const QList<PeerDevice>& sorted);
    void noticeNewDevices(const QList<PeerDevice>& sorted);
    void pathChanged(const QString& key);
    void setHelper(const Helper& helper);
    void setLastError(const std::optional<QString>& text);

    NetworkMonitor& network;
    SleepGuard guard;
    Intervals delays;
    QThreadPool queue; // the link queue: one thread, exchanges in order

    Helper state;
    std::optional<NodeStatus> document;
    QList<PeerDevice> peerList;
    std::optional<QString> error;
    std::optional<QDateTime> polledAt;
    TunnelChecks checks;
    bool sshdUp = false;
    QSet<QString> keyIDs;
    bool includeFound = false;
    // The peer set the device ssh files were last written for; none until the first write of this process.
    std::optional<QString> filesFingerprint;
    QHash<QString, bool> reportedSkips; // peers left out of the files, each logged once
    // The last failure to write the device files and when it was last logged: a failure that repeats at
    // every poll is logged once a minute, not every few seconds.
    QString lastFilesFailure;
    QDateTime filesFailureLoggedAt;

    bool started = false;
    bool stopping = false;
    bool polling = false;
    bool pollFast = false;
    quint64 generation = 0;
    std::optional<quint64> spawnPending; // a launch waiting for older programs to end
    std::shared_ptr<ProcessRunner::Child> child;
    QList<std::shared_ptr<ProcessRunner::Child>> retiring; // stopped programs not yet reaped
    QElapsedTimer runningFor;
    QElapsedTimer sinceExitCheckIn;
    int backoffMs = 0;
    QString lastPathKey;

    QTimer pollTimer;
    QTimer firstPollTimer;
    QTimer relaunchTimer;
    QTimer netchangeTimer;
};
