#pragma once

#include "link/LinkStatus.h"
#include "link/Tunnel.h"
#include "platform/CommandResult.h"

#include <QFuture>
#include <QHash>
#include <QObject>
#include <QSet>
#include <functional>

// The ssh checks of the other machines: one BatchMode login through the device ssh configuration that
// runs `true`; its outcome is the machine's Tunnel. Wanted machines are checked again by themselves when
// their link comes back, with a growing wait between automatic checks. Main thread.
class TunnelChecks : public QObject {
    Q_OBJECT
public:
    // Runs /usr/bin/ssh with exactly these arguments and time-out.
    using Runner = std::function<QFuture<CommandResult>(const QStringList& args, double timeoutSeconds)>;

    struct Classified {
        QString message;
        bool needsKey = false;
        QString text; // the first line of the failure, for the log
    };

    explicit TunnelChecks(QObject* parent = nullptr);

    Runner runner;
    std::function<QString()> configPath;                       // ssh_config_devices
    std::function<void(const QStringList&)> saveWanted;         // sorted ids
    std::function<void(const PeerDevice&)> onOpened;
    // The machine's link as the link program reports it now, none when it cannot say. Unset: the last
    // reconciled status stands for now.
    std::function<QFuture<std::optional<LinkStatus>>(const QString& id)> linkNow;

    void setWanted(const QSet<QString>& ids) { wantedIDs = ids; }
    const QSet<QString>& wanted() const { return wantedIDs; }
    const QHash<QString, Tunnel>& all() const { return states; }
    Tunnel tunnel(const PeerDevice& peer) const { return states.value(peer.id); }

    void open(const PeerDevice& peer, bool automatic);
    void close(const PeerDevice& peer);
    // After each applied status document, with the sorted peers.
    void reconcile(const QList<PeerDevice>& peers);

    static QStringList checkArguments(const QString& configPath, const QString& alias);
    static Classified classify(const CommandResult& result);
    static constexpr double checkTimeoutSeconds = 40;

Q_SIGNALS:
    void changed();

private:
    void set(const QString& id, const Tunnel& tunnel);
    void finished(const PeerDevice& peer, const QString& path, bool automatic, const CommandResult& result);
    void opened(const PeerDevice& peer, const QString& path, bool automatic);

    QHash<QString, Tunnel> states;
    QSet<QString> wantedIDs;
    QHash<QString, QDateTime> autoOpenAt;
    QHash<QString, double> autoBackoff;
    QHash<QString, QString> linkPaths; // the path of each linked machine at the last reconcile
};
