#pragma once

#include "Identity.h"
#include "NetConfig.h"
#include "PeerLink.h"
#include "SelfRecord.h"
#include "ServeOptions.h"
#include "ServiceClient.h"
#include "Sockets.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <functional>

class PlainStream;
class Splice;
class TlsStream;
class Tunnel;

// `serve`: this device's presence in its account and its links to the others. Answers the app on the
// control socket, carries `dial` connections over fresh TLS connections to peers, and serves tunnels
// peers open to the local sshd while inbound connections are allowed. A tunnel whose link goes waits
// for the next link to that peer and goes on over it.
class Node : public QObject {
    Q_OBJECT
public:
    Node(const ServeOptions& options, const NetConfig& config, Identity identity, QObject* parent = nullptr);
    ~Node() override;

    // Binds the control socket first, then the rest; an error text when the program cannot run.
    std::optional<QString> start();
    // Closes everything, removes the sockets and ends the event loop with `code`.
    void shutdown(int code);

    QJsonObject statusDocument() const;

    // Exit code of a device removed from the account while a later sign-in is at hand: the caller makes
    // a new identity and serves again, so the machine joins as a new device.
    static constexpr int rejoinCode = 5;
    // The token this node read last; a node that started after a rejoin with it does not rejoin again.
    QString currentToken() const { return token; }
    void setRejoinedWith(const QString& value) { rejoinedWith = value; }

private:
    void acceptControl(int fd);
    void command(PlainStream* client, const QJsonObject& request);
    void rename(PlainStream* client, const QJsonObject& request);
    void answer(PlainStream* client, const QJsonObject& reply);

    void acceptDial(int fd);
    void dial(PlainStream* client, const QJsonObject& request, const QByteArray& rest);
    void refuseDial(PlainStream* client, const QString& text);

    void acceptPeer(int fd, const QHostAddress& from);
    // True when one of the account's devices advertises an address with this key (see acceptPeer).
    bool listed(const QString& address) const;
    bool knownCertificate(const QString& fingerprint) const;
    // A certificate no device of the account has: the next sync looks for it.
    void stranger(const QString& fingerprint);
    // The certificates `lookedUp` that a complete sync did not find cause no more syncs.
    void settleStrangers(const QSet<QString>& lookedUp);
    void peerHello(TlsStream* stream, const QJsonObject& hello, const QByteArray& rest);
    // Ends the tunnels a peer (every peer when empty) opened into this machine.
    void closeInbound(const QString& peer);
    // The account's devices changed (one was removed): sync now, at most once a second.
    void devicesChanged();
    void knockedBy(const QString& fingerprint);
    void serveTunnel(PeerLink* link, TlsStream* stream, const QJsonObject& hello, const QByteArray& rest,
                     const QString& path);
    // Counts a new tunnel from `peer` while the object returned lives (under `holder`, moved along with
    // the tunnel); none when that peer or all of them have as many as they may.
    QObject* admitTunnel(const QString& peer, QObject* holder);
    // Remembers which link and path a tunnel rides, so that losing that link ends it.
    void carry(PeerLink* link, Splice* splice, const QString& path);
    void linkLost(PeerLink* link, const QString& path);
    // The peer quit on purpose: the tunnels to and from it end now.
    void peerLeft(PeerLink* link);
    // The link moved to another path: the tunnels this side opened over the old one resume on the new one,
    // so that none rides a path the link no longer watches.
    void follow(PeerLink* link);
    void keep(Tunnel* tunnel, PeerLink* link, const QString& path, int port, bool outgoing);
    // Opens a new carrier for a tunnel this side opened whose carrier went, once its link is up.
    void resume(Tunnel* tunnel);
    void resumeAll(PeerLink* link);
    Tunnel* servedTunnel(const QString& peer, const QString& id) const;
    // Ends the tunnels this side opened to a peer (to every peer when empty).
    void closeOutgoing(const QString& peer);

    void sync();
    void synced(const ServiceClient::Reply& reply, bool selfRenamedMeanwhile);
    void adoptPeers(const QJsonArray& devices);
    bool refusedAccount(const ServiceClient::Reply& reply);
    void relay(const QString& peer, bool fresh, const QString& session, LinkContext::RelayDone done);
    QJsonArray endpoints() const;

    void tick();
    bool readToken();
    void saveSelf();

    ServeOptions options;
    NetConfig config;
    Identity identity;
    SelfRecord self;
    QString sshPubKey;
    QString hostPubKey;
    QString model;
    QString osVersion;
    bool allowInbound;
    LinkContext linkContext;
    ServiceClient service;
    QString token;
    QString tokenSignature;
    QString rejoinedWith;

    bool siteOk = false;
    QString siteError;
    QString siteOkAt;
    QString devicesVersion;
    bool removed = false;
    bool syncing = false;
    bool syncAgain = false;
    // Counts local renames, so a sync sent before one cannot put the old name back.
    int renames = 0;
    QMap<QString, PeerLink*> links; // by peer id, in the service's order below
    struct InboundTunnel {
        QString peer;
        std::function<void()> end;
    };
    QHash<QObject*, InboundTunnel> inbound; // by splice
    QElapsedTimer devicesKnock;
    struct Carried {
        PeerLink* link;
        QString path;
    };
    QHash<Splice*, Carried> carried;
    // A tunnel that goes on over the next link to its peer: the link, the path its carrier takes, and
    // whether this side opened it (the opener resumes it).
    struct Resumable {
        QPointer<PeerLink> link;
        QString peer;
        QString path;
        int port = 0;
        bool outgoing = false;
        bool resuming = false;
        QElapsedTimer dropped; // since its carrier went while the link was up
    };
    QHash<Tunnel*, Resumable> resumable;
    QStringList order;

    Listener control;
    Listener dialer;
    Listener peers;
    QTimer syncTimer;
    QTimer tickTimer;
    QElapsedTimer uptime;
    // Certificates no device of the account has: those the next sync looks for, those the sync under way
    // looks for, and those a sync did not find, which cause no more syncs; new ones bring a sync forward
    // at most once per interval.
    QSet<QString> strangersAsked;
    QSet<QString> strangersLookingUp;
    QSet<QString> strangers;
    QElapsedTimer strangerSync;
    // Tunnels peers opened into this machine, overall and by peer, and the most of each.
    int tunnelsIn = 0;
    QHash<QString, int> tunnelsFrom;
    int tunnelCap = 0;
    int tunnelCapPerPeer = 0;
    QElapsedTimer tunnelsFullSaid;
    // Peer connections not yet past their hello (TLS handshake included), overall and by source address
    // (IPv4, or IPv6 /64): strangers cannot use up the descriptors the control socket, syncs and links
    // need, nor the room kept for the addresses the account's devices advertise.
    int unverified = 0;
    QHash<QString, int> unverifiedFrom;
    int unverifiedCap = 0;
    QElapsedTimer crowdedSaid;
    qint64 startParent = 0;
    bool stopping = false;
};
