#pragma once

#include "NetConfig.h"
#include "PeerInfo.h"
#include "link/LinkStatus.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>

class LineReader;
class Stream;
class TlsStream;
typedef struct ssl_ctx_st SSL_CTX;

// What a link needs from the program around it.
struct LinkContext {
    SSL_CTX* tls = nullptr;
    QString selfId;
    QString version;
    NetConfig config;
    std::function<bool()> allowInbound;
    // A connection to the relay for this peer, the ticket line already sent: the link session shared by
    // both sides, a fresh session (for a tunnel), or the named one the peer opened. fd < 0 on failure.
    using RelayDone = std::function<void(int fd, const QString& session, const QString& error)>;
    std::function<void(const QString& peer, bool fresh, const QString& session, RelayDone done)> relay;
    // A tunnel the peer opens to this side through the relay: the stream, its hello and what followed it.
    std::function<void(const QString& peer, TlsStream* stream, const QJsonObject& hello, const QByteArray& rest)>
        tunnelArrived;
    std::function<void(const QString& line)> log;
    // The peer says the account's devices changed.
    std::function<void()> devicesChanged;
};

// The link to one other device: the side with the smaller id connects, directly to the addresses the
// service lists, or through the relay when no direct path answers in time; while relayed it keeps trying
// the direct path (backing off) and moves over when that answers. Once linked, a ping every few seconds
// measures the round trip; three missed answers count as a loss and reconnecting backs off.
class PeerLink : public QObject {
    Q_OBJECT
public:
    PeerLink(const LinkContext& context, const PeerInfo& info, QObject* parent = nullptr);
    ~PeerLink() override;

    const PeerInfo& info() const { return peer; }
    void update(const PeerInfo& info);
    QString state() const { return state_; }
    bool connected() const { return state_ == QLatin1String("connected"); }
    // "direct" or "relay" while connected.
    QString currentPath() const { return path; }
    bool tried() const { return !state_.isEmpty(); }

    // Starts trying now when not linked and no attempt is under way (also after a network change:
    // back-offs start over).
    void kick(const QString& trigger);
    // The side with the larger id, on first hearing of the peer: touches it directly so that a peer that
    // does not know this device yet looks it up now, and then connects.
    void knock();
    // The peer knocked: it is up and reachable directly, so back-offs start over and the direct path is
    // tried now, also while an attempt waits for the relay or a dial is under way.
    void knocked();
    void tellAllow(bool on);
    // This program is quitting on purpose: tells the peer so before the link goes. False when unlinked.
    bool sayGoodbye();
    // The peer said it quit on purpose and has not linked again since.
    bool departed() const { return gone; }
    // Tells the peer the account's devices changed, so it syncs now.
    void tellDevices();
    // A link the peer opened to this side: its stream after the hello.
    void adopt(TlsStream* stream, const QJsonObject& hello, const QByteArray& rest, const QString& path);

    // A fresh connection to the peer for one tunnel, opened with `opening` (kind "tunnel"), on the path the
    // link uses; `done` gets the stream after the peer accepted, with its answer and any bytes that followed
    // it (the stream's property "path" says which path it took), or an error text (with the peer's answer
    // when the peer refused).
    using TunnelDone = std::function<void(TlsStream* stream, const QJsonObject& answer, const QByteArray& rest,
                                          const QString& error)>;
    void openTunnel(const QJsonObject& opening, TunnelDone done);

    void countTunnel(bool inbound, int delta);
    LinkStatus status() const;

    bool initiator() const;

Q_SIGNALS:
    void stateChanged();
    // The connected link over `path` failed: connections opened over that path are likely dead too.
    void lost(const QString& path);
    // The peer quit on purpose: what rides the link will not be resumed.
    void left();
    // A new connection on another path replaced the live one (the direct path answers again).
    void moved(const QString& path);

private:
    void setState(const QString& state, const QString& trigger);
    void attempt();
    void tryDirect();
    void tryRelay();
    void linked(TlsStream* stream, const QByteArray& rest, const QJsonObject& hello, const QString& path);
    void lose(const QString& trigger);
    void scheduleRetry();
    void scheduleProbe();
    void probeDirect();
    // Dials every address of the peer under `owner` and links over the first whose handshake answers while
    // `current()` still holds (`won` runs just before); `failed` runs once when every address has failed.
    void dialDirect(QObject* owner, std::function<bool()> current, std::function<void()> failed,
                    std::function<void()> won = {});
    void stopAttempts();
    void ping();
    // Linked, but the last ping has gone unanswered for a whole ping period.
    bool silent() const;
    void message(const QJsonObject& m);
    // Joins the relay sessions the peer asked for, a few at once and a few a second.
    void answerRelay();
    // Runs `join` (asks the peer to join a tunnel's relay session) once fewer than the peer joins at once
    // are under way, so the peer never drops one; `op` going away ends its turn.
    void whenRelayTurn(QObject* op, const std::function<void()>& join);
    void send(const QJsonObject& m);
    // Asks the peer to join a relay session that one of this side's tunnels waits on.
    void askToJoin(const QString& session);
    // Runs the opening exchange on a fresh TLS stream: as `speaker` sends `hello` and waits for the answer,
    // otherwise only waits for the peer's first line. `done` gets the peer's line, or an error (with the
    // peer's line when the peer refused).
    void handshake(TlsStream* stream, bool speaker, const QJsonObject& hello, QObject* owner,
                   std::function<void(const QJsonObject& peerLine, const QByteArray& rest, const QString& error)> done);
    QJsonObject hello(const QString& kind, const QString& path) const;
    TlsStream* tlsOver(int fd, bool client, QObject* owner);

    LinkContext ctx;
    PeerInfo peer;
    QString state_;
    QString trigger;
    QString path;
    QString peerPath;
    QString peerVersion;
    bool peerAllows = false;
    double rttMs = 0;
    double connectMs = 0;
    int restarts = 0;
    int inbound = 0;
    int outbound = 0;
    int backoffMs = 1000;
    QElapsedTimer since;
    QElapsedTimer attemptClock;
    PeerInfo::Endpoint usedEndpoint;
    bool haveEndpoint = false;

    QPointer<TlsStream> stream;
    QPointer<LineReader> channel;
    QObject* attempts = nullptr; // parent of every pending attempt; deleting it cancels them
    QTimer relayTimer;
    QTimer retryTimer;
    QTimer pingTimer;
    QTimer probeTimer;
    int probeWaitMs = 0;
    QPointer<QObject> probe; // parent of a pending try of the direct path while relayed
    qint64 pingSent = 0;
    qint64 lastPong = 0;
    bool awaitingPong = false;
    qint64 unansweredSince = 0;
    bool gone = false;
    QElapsedTimer clock;
    QStringList relayAsked; // sessions the peer asked this side to join, oldest first
    int relayJoining = 0; // joins of the peer's relay sessions under way
    bool relayGapWaiting = false;
    int relayOpening = 0; // this side's tunnels whose relay session the peer has yet to join
    QList<QPair<QPointer<QObject>, std::function<void()>>> relayTurns;
    QHash<QObject*, QString> relayUnanswered; // sessions this side's tunnels wait on, by their opening
    QElapsedTimer relayAnswered;
};
