#include "PeerLink.h"

#include "LineReader.h"
#include "Sockets.h"
#include "TlsStream.h"

#include <QJsonDocument>
#include <unistd.h>

namespace {
constexpr int directTimeoutMs = 3000;
constexpr int directRetryMs = 300;
constexpr int helloTimeoutMs = 10000;
// A replaced link stays open this long, so that the peer switches over before it sees the old one end.
constexpr int replacedGraceMs = 5000;
constexpr qint64 lineLimit = 64 * 1024;
// What may wait to be sent on the link: its messages are small, so more means the peer does not read.
constexpr qint64 sendQueueLimit = 1024 * 1024;
// A peer's requests to join a relay session: a few joined at once, since a far relay makes each join take
// most of a second while shots keep coming; one start per this many ms, and only this many waiting; more
// are dropped (the peer's end gives up on its own, and never asks for more than are joined at once).
constexpr int relayJoinsAtOnce = 4;
constexpr int relayAnswerGapMs = 250;
constexpr int relayAskedMost = 4;
} // namespace

PeerLink::PeerLink(const LinkContext& context, const PeerInfo& info, QObject* parent)
    : QObject(parent), ctx(context), peer(info)
{
    clock.start();
    since.start();
    relayTimer.setSingleShot(true);
    retryTimer.setSingleShot(true);
    connect(&relayTimer, &QTimer::timeout, this, &PeerLink::tryRelay);
    connect(&retryTimer, &QTimer::timeout, this, [this] {
        setState(QStringLiteral("connecting"), QStringLiteral("retry"));
        attempt();
    });
    connect(&pingTimer, &QTimer::timeout, this, &PeerLink::ping);
    probeTimer.setSingleShot(true);
    connect(&probeTimer, &QTimer::timeout, this, &PeerLink::probeDirect);
}

PeerLink::~PeerLink()
{
    if (stream)
        stream->close();
}

bool PeerLink::initiator() const { return ctx.selfId < peer.id; }

void PeerLink::update(const PeerInfo& info)
{
    const bool wasReachable = peer.reachable();
    const bool newKey = info.certSha256 != peer.certSha256;
    const bool moved = !std::equal(info.endpoints.begin(), info.endpoints.end(), peer.endpoints.begin(),
                                   peer.endpoints.end(), [](const PeerInfo::Endpoint& x, const PeerInfo::Endpoint& y) {
                                       return x.address == y.address && x.port == y.port;
                                   });
    peer = info;
    if (!peer.online)
        gone = false; // the service knows it left; from now on its word holds
    if (newKey && stream)
        lose(QStringLiteral("对方换了证书"));
    else if (!wasReachable && peer.reachable() && !connected() && !attempts)
        kick(QStringLiteral("online"));
    else if (moved && connected() && path == QLatin1String("relay")) {
        probeWaitMs = ctx.config.directProbeMs;
        probeDirect();
    } else if (moved && attempts && initiator() && !peer.endpoints.isEmpty()) {
        tryDirect(); // the attempt under way tries the new addresses now, not after a dial of the old ones ends
    }
}

void PeerLink::kick(const QString& why)
{
    backoffMs = 1000;
    if (connected()) {
        ping();
        if (path == QLatin1String("relay")) {
            probeWaitMs = ctx.config.directProbeMs;
            probeDirect();
        }
        return;
    }
    // An attempt under way goes on: starting over would put its turn for the relay off again.
    if (!peer.reachable() || attempts)
        return;
    retryTimer.stop();
    setState(QStringLiteral("connecting"), why);
    attempt();
}

void PeerLink::setState(const QString& state, const QString& why)
{
    if (state == state_ && why == trigger)
        return;
    if (state != state_)
        since.restart();
    state_ = state;
    trigger = why;
    Q_EMIT stateChanged();
}

void PeerLink::stopAttempts()
{
    relayTimer.stop();
    if (attempts)
        attempts->deleteLater();
    attempts = nullptr;
}

void PeerLink::attempt()
{
    stopAttempts();
    attempts = new QObject(this);
    attemptClock.start();
    if (initiator() && !peer.endpoints.isEmpty())
        tryDirect();
    relayTimer.start(ctx.config.relayAfterMs);
}

TlsStream* PeerLink::tlsOver(int fd, bool client, QObject* owner)
{
    const QString pinned = peer.certSha256;
    return new TlsStream(fd, ctx.tls, client ? TlsStream::Role::Client : TlsStream::Role::Server,
                         [pinned](const QString& fingerprint) { return fingerprint == pinned; }, owner);
}

QJsonObject PeerLink::hello(const QString& kind, const QString& via) const
{
    return QJsonObject{{QStringLiteral("kind"), kind},
                       {QStringLiteral("id"), ctx.selfId},
                       {QStringLiteral("version"), ctx.version},
                       {QStringLiteral("allows"), ctx.allowInbound()},
                       {QStringLiteral("path"), via}};
}

void PeerLink::handshake(TlsStream* tls, bool speaker, const QJsonObject& opening, QObject* owner,
                         std::function<void(const QJsonObject&, const QByteArray&, const QString&)> done)
{
    if (speaker)
        tls->write(QJsonDocument(opening).toJson(QJsonDocument::Compact) + '\n');
    auto* reader = new LineReader(tls, lineLimit, helloTimeoutMs, owner);
    auto finished = std::make_shared<bool>(false);
    connect(reader, &LineReader::message, owner, [reader, done, finished](const QJsonObject& line) {
        if (std::exchange(*finished, true))
            return;
        const QByteArray rest = reader->detach();
        reader->deleteLater();
        const QString error = line.value(QStringLiteral("error")).toString();
        if (!error.isEmpty())
            return done(line, {}, error); // the peer's refusal comes with its line
        if (line.isEmpty())
            return done({}, {}, QStringLiteral("对方的回答看不懂"));
        done(line, rest, {});
    });
    connect(reader, &LineReader::failed, owner, [reader, done, finished](const QString& reason) {
        if (std::exchange(*finished, true))
            return;
        reader->detach();
        reader->deleteLater();
        done({}, {}, reason);
    });
}

void PeerLink::knocked()
{
    gone = false;
    // Also while a dial is under way: it may wait on an address that no longer answers.
    if (attempts && initiator() && !peer.endpoints.isEmpty())
        return tryDirect();
    kick(QStringLiteral("knock"));
}

void PeerLink::tryDirect()
{
    QPointer<QObject> owner = attempts;
    owner->setProperty("direct", true);
    dialDirect(owner, [this, owner] { return owner && owner == attempts; }, [this, owner] {
        owner->setProperty("direct", false);
        // The peer may not know this device yet (its list is older): knock again until the relay's turn.
        if (relayTimer.isActive() && relayTimer.remainingTime() > directRetryMs)
            QTimer::singleShot(directRetryMs, owner, [this] { tryDirect(); });
        else
            tryRelay();
    });
}

void PeerLink::dialDirect(QObject* owner, std::function<bool()> current, std::function<void()> failed,
                          std::function<void()> won)
{
    auto failures = std::make_shared<int>(0);
    const int total = int(peer.endpoints.size());
    const auto failedOne = [current, failed, failures, total] {
        if (current() && ++*failures == total)
            failed();
    };
    for (const PeerInfo::Endpoint& endpoint : peer.endpoints) {
        auto* connector = new Connector(endpoint.address, endpoint.port, directTimeoutMs, owner);
        connect(connector, &Connector::failed, owner, failedOne);
        connect(connector, &Connector::connected, owner, [=, this](int fd) {
            connector->deleteLater();
            TlsStream* tls = tlsOver(fd, true, owner);
            handshake(tls, true, hello(QStringLiteral("link"), QStringLiteral("direct")), owner,
                      [=, this](const QJsonObject& answer, const QByteArray& rest, const QString& error) {
                          if (!current()) {
                              tls->close();
                              return;
                          }
                          if (!error.isEmpty()) {
                              tls->close();
                              return failedOne();
                          }
                          if (won)
                              won();
                          usedEndpoint = endpoint;
                          haveEndpoint = true;
                          linked(tls, rest, answer, QStringLiteral("direct"));
                      });
        });
    }
}

void PeerLink::knock()
{
    if (initiator() || connected() || peer.endpoints.isEmpty())
        return;
    auto* owner = new QObject(this);
    QTimer::singleShot(directTimeoutMs + helloTimeoutMs, owner, &QObject::deleteLater);
    for (const PeerInfo::Endpoint& endpoint : peer.endpoints) {
        auto* connector = new Connector(endpoint.address, endpoint.port, directTimeoutMs, owner);
        connect(connector, &Connector::connected, owner, [this, owner](int fd) {
            // Our certificate is all the peer needs to see; nothing is said.
            TlsStream* tls = tlsOver(fd, true, owner);
            connect(tls, &TlsStream::established, tls, [tls] { tls->close(); });
        });
    }
}

void PeerLink::scheduleProbe()
{
    if (!connected() || path != QLatin1String("relay") || !initiator())
        return;
    probeTimer.start(probeWaitMs);
    probeWaitMs = std::min(probeWaitMs * 2, ctx.config.maxDirectProbeMs);
}

void PeerLink::probeDirect()
{
    probeTimer.stop();
    if (probe)
        probe->deleteLater();
    probe = nullptr;
    if (!connected() || path != QLatin1String("relay") || !initiator())
        return;
    if (peer.endpoints.isEmpty())
        return scheduleProbe();
    auto* owner = new QObject(this);
    probe = owner;
    QPointer<QObject> guard = owner;
    const auto current = [this, guard] { return guard && guard == probe; };
    dialDirect(owner, current,
        [this, guard] {
            guard->deleteLater();
            probe = nullptr;
            scheduleProbe();
        },
        [this, guard] {
            probe = nullptr;
            guard->deleteLater();
            ctx.log(QStringLiteral("到「%1」的直连又通了，从中转切回直连").arg(peer.shownName()));
        });
}

void PeerLink::tryRelay()
{
    relayTimer.stop();
    if (!attempts || attempts->property("relay").toBool())
        return;
    attempts->setProperty("relay", true);
    ctx.log(QStringLiteral("经中转连接「%1」…").arg(peer.shownName()));
    QPointer<QObject> owner = attempts;
    ctx.relay(peer.id, false, {}, [this, owner](int fd, const QString&, const QString& error) {
        if (!owner || owner != attempts) {
            if (fd >= 0)
                ::close(fd);
            return;
        }
        if (fd < 0) {
            ctx.log(QStringLiteral("到「%1」的中转连不上：%2").arg(peer.shownName(), error));
            return scheduleRetry();
        }
        TlsStream* tls = tlsOver(fd, initiator(), owner);
        handshake(tls, initiator(), hello(QStringLiteral("link"), QStringLiteral("relay")), owner,
                  [=, this](const QJsonObject& line, const QByteArray& rest, const QString& problem) {
                      if (!owner || owner != attempts)
                          return;
                      if (!problem.isEmpty()) {
                          tls->close();
                          return scheduleRetry();
                      }
                      if (!initiator()) {
                          if (line.value(QStringLiteral("kind")).toString() != QLatin1String("link") ||
                              line.value(QStringLiteral("id")).toString() != peer.id) {
                              tls->close();
                              return scheduleRetry();
                          }
                          QJsonObject answer = hello(QStringLiteral("link"), QStringLiteral("relay"));
                          answer.insert(QStringLiteral("ok"), true);
                          tls->write(QJsonDocument(answer).toJson(QJsonDocument::Compact) + '\n');
                      }
                      linked(tls, rest, line, QStringLiteral("relay"));
                  });
    });
}

void PeerLink::adopt(TlsStream* tls, const QJsonObject& line, const QByteArray& rest, const QString& via)
{
    QJsonObject answer = hello(QStringLiteral("link"), via);
    answer.insert(QStringLiteral("ok"), true);
    tls->write(QJsonDocument(answer).toJson(QJsonDocument::Compact) + '\n');
    linked(tls, rest, line, via);
}

void PeerLink::linked(TlsStream* tls, const QByteArray& rest, const QJsonObject& line, const QString& via)
{
    tls->setParent(this);
    const bool timed = attempts != nullptr;
    const bool afterLoss = !stream;
    const bool movedOver = stream && stream != tls && path != via;
    stopAttempts();
    retryTimer.stop();
    probeTimer.stop();
    if (probe)
        probe->deleteLater();
    probe = nullptr;
    if (stream && stream != tls) {
        // Still read until it is closed, once the peer has surely moved to the new one: what the peer sent
        // on it before it moved (a request to join a tunnel's relay session) arrives there, and only there.
        TlsStream* old = stream;
        QPointer<LineReader> oldChannel = channel;
        channel = nullptr;
        QTimer::singleShot(replacedGraceMs, old, [old, oldChannel] {
            if (oldChannel)
                oldChannel->deleteLater();
            old->close();
            old->deleteLater();
        });
    }
    if (channel)
        channel->deleteLater();
    stream = tls;
    channel = new LineReader(tls, lineLimit, 0, this, rest);
    connect(channel, &LineReader::message, this, &PeerLink::message);
    connect(channel, &LineReader::failed, this, [this, tls](const QString& reason) {
        if (stream == tls)
            lose(reason);
    });
    path = via;
    peerPath = line.value(QStringLiteral("path")).toString(via);
    peerVersion = line.value(QStringLiteral("version")).toString();
    peerAllows = line.value(QStringLiteral("allows")).toBool();
    connectMs = timed ? double(attemptClock.nsecsElapsed()) / 1e6 : 0;
    backoffMs = 1000;
    lastPong = clock.elapsed();
    awaitingPong = false;
    gone = false;
    rttMs = 0;
    pingTimer.start(ctx.config.pingMs);
    probeWaitMs = ctx.config.directProbeMs;
    setState(QStringLiteral("connected"), via);
    scheduleProbe();
    ctx.log(QStringLiteral("到「%1」的连接已建立（%2，%3 ms）")
                .arg(peer.shownName(), via == QLatin1String("relay") ? QStringLiteral("中转") : QStringLiteral("直连"))
                .arg(qRound(connectMs)));
    ping();
    // Asked on the lost link, perhaps never read: asked again on this one, while their ends still wait.
    if (afterLoss)
        for (const QString& session : std::as_const(relayUnanswered))
            askToJoin(session);
    if (movedOver)
        Q_EMIT moved(via);
}

void PeerLink::lose(const QString& why)
{
    pingTimer.stop();
    probeTimer.stop();
    if (probe)
        probe->deleteLater();
    probe = nullptr;
    const bool wasConnected = connected();
    if (stream) {
        stream->close();
        stream->deleteLater();
    }
    stream = nullptr;
    if (channel)
        channel->deleteLater();
    channel = nullptr;
    if (state_ == QLatin1String("connected")) {
        ++restarts;
        ctx.log(QStringLiteral("到「%1」的连接断了：%2").arg(peer.shownName(), why));
    }
    setState(QStringLiteral("disconnected"), why);
    if (wasConnected)
        Q_EMIT lost(path);
    scheduleRetry();
}

void PeerLink::scheduleRetry()
{
    stopAttempts();
    if (!peer.reachable() || retryTimer.isActive())
        return;
    retryTimer.start(backoffMs);
    backoffMs = std::min(backoffMs * 2, ctx.config.maxBackoffMs);
}

void PeerLink::ping()
{
    if (!stream)
        return;
    const qint64 now = clock.elapsed();
    if (now - lastPong > 3 * qint64(ctx.config.pingMs) + ctx.config.pingMs / 2)
        return lose(QStringLiteral("对方 3 次没有回应"));
    pingSent = now;
    if (!std::exchange(awaitingPong, true))
        unansweredSince = now;
    send(QJsonObject{{QStringLiteral("t"), QStringLiteral("ping")}, {QStringLiteral("n"), double(now)}});
}

bool PeerLink::silent() const
{
    return connected() && awaitingPong && clock.elapsed() - unansweredSince > ctx.config.pingMs;
}

bool PeerLink::sayGoodbye()
{
    if (!stream)
        return false;
    send(QJsonObject{{QStringLiteral("t"), QStringLiteral("bye")}});
    stream->finishWrite();
    return true;
}

void PeerLink::askToJoin(const QString& session)
{
    send(QJsonObject{{QStringLiteral("t"), QStringLiteral("relay")}, {QStringLiteral("session"), session}});
}

void PeerLink::send(const QJsonObject& m)
{
    if (!stream)
        return;
    // A peer that asks and never reads the answers loses its link, not this side its memory.
    if (stream->pendingWrite() > sendQueueLimit)
        return lose(QStringLiteral("对方不收数据"));
    stream->write(QJsonDocument(m).toJson(QJsonDocument::Compact) + '\n');
}

void PeerLink::tellAllow(bool on)
{
    send(QJsonObject{{QStringLiteral("t"), QStringLiteral("allow")}, {QStringLiteral("on"), on}});
}

void PeerLink::tellDevices() { send(QJsonObject{{QStringLiteral("t"), QStringLiteral("devices")}}); }

void PeerLink::message(const QJsonObject& m)
{
    const QString type = m.value(QStringLiteral("t")).toString();
    if (type == QLatin1String("ping")) {
        send(QJsonObject{{QStringLiteral("t"), QStringLiteral("pong")}, {QStringLiteral("n"), m.value(QStringLiteral("n"))}});
    } else if (type == QLatin1String("pong")) {
        const qint64 sent = qint64(m.value(QStringLiteral("n")).toDouble(-1));
        const bool wasSilent = silent();
        awaitingPong = false;
        if (wasSilent)
            Q_EMIT stateChanged();
        if (sent == pingSent) {
            lastPong = clock.elapsed();
            rttMs = double(lastPong - sent);
            if (rttMs < 1)
                rttMs = 1; // a measured round trip is never shown as none
        }
    } else if (type == QLatin1String("allow")) {
        peerAllows = m.value(QStringLiteral("on")).toBool();
        Q_EMIT stateChanged();
    } else if (type == QLatin1String("bye")) {
        ctx.log(QStringLiteral("「%1」退出了").arg(peer.shownName()));
        gone = true;
        Q_EMIT left();
        lose(QStringLiteral("对方退出了"));
    } else if (type == QLatin1String("devices")) {
        if (ctx.devicesChanged)
            ctx.devicesChanged();
    } else if (type == QLatin1String("relay")) {
        if (relayAsked.size() < relayAskedMost)
            relayAsked.append(m.value(QStringLiteral("session")).toString());
        answerRelay();
    }
}

void PeerLink::answerRelay()
{
    if (relayGapWaiting || relayJoining >= relayJoinsAtOnce || relayAsked.isEmpty())
        return;
    if (relayAnswered.isValid() && relayAnswered.elapsed() < relayAnswerGapMs) {
        relayGapWaiting = true;
        QTimer::singleShot(relayAnswerGapMs - int(relayAnswered.elapsed()), this, [this] {
            relayGapWaiting = false;
            answerRelay();
        });
        return;
    }
    relayAnswered.start();
    ++relayJoining;
    const auto answered = [this, once = std::make_shared<bool>(false)] {
        if (std::exchange(*once, true))
            return;
        --relayJoining;
        answerRelay();
    };
    ctx.relay(peer.id, false, relayAsked.takeFirst(), [this, owner = QPointer<PeerLink>(this), answered](
                                                          int fd, const QString&, const QString& error) {
        if (!owner) {
            if (fd >= 0)
                ::close(fd);
            return;
        }
        if (fd < 0) {
            ctx.log(QStringLiteral("「%1」要的中转通道接不上：%2").arg(peer.shownName(), error));
            return answered();
        }
        TlsStream* tls = tlsOver(fd, initiator(), this);
        handshake(tls, false, {}, tls, [this, tls, answered](const QJsonObject& line, const QByteArray& rest,
                                                             const QString& problem) {
            answered();
            if (!problem.isEmpty())
                return tls->deleteLater();
            ctx.tunnelArrived(peer.id, tls, line, rest);
        });
    });
    answerRelay(); // the next one waiting, after the gap
}

void PeerLink::whenRelayTurn(QObject* op, const std::function<void()>& join)
{
    if (relayOpening >= relayJoinsAtOnce)
        return relayTurns.append({op, join});
    ++relayOpening;
    connect(op, &QObject::destroyed, this, [this] {
        --relayOpening;
        while (!relayTurns.isEmpty()) {
            const auto [next, waiting] = relayTurns.takeFirst();
            if (next)
                return whenRelayTurn(next, waiting);
        }
    });
    join();
}

void PeerLink::openTunnel(const QJsonObject& opening, TunnelDone done)
{
    if (!connected())
        return done(nullptr, {}, {}, QStringLiteral("两台之间的连接还没建好"));
    auto* op = new QObject(this);
    auto settled = std::make_shared<bool>(false);
    const auto finish = [op, done, settled](TlsStream* tls, const QJsonObject& answer, const QByteArray& rest,
                                            const QString& error) {
        if (std::exchange(*settled, true)) {
            if (tls)
                tls->close();
            return;
        }
        if (tls)
            tls->setParent(nullptr);
        op->deleteLater();
        done(tls, answer, rest, error);
    };
    const auto joinRelay = [this, op, opening, finish] {
        ctx.relay(peer.id, true, {}, [this, op = QPointer<QObject>(op), opening, finish](int fd, const QString& session,
                                                                                         const QString& error) {
            if (!op) {
                if (fd >= 0)
                    ::close(fd);
                return;
            }
            if (fd < 0)
                return finish(nullptr, {}, {}, error);
            askToJoin(session);
            relayUnanswered.insert(op, session);
            connect(op, &QObject::destroyed, this, [this, key = op.data()] { relayUnanswered.remove(key); });
            TlsStream* tls = tlsOver(fd, initiator(), op);
            tls->setProperty("path", QStringLiteral("relay"));
            handshake(tls, true, opening, op,
                      [tls, finish](const QJsonObject& answer, const QByteArray& rest, const QString& problem) {
                          finish(problem.isEmpty() ? tls : nullptr, answer, rest, problem);
                          if (!problem.isEmpty())
                              tls->close();
                      });
        });
    };
    const auto viaRelay = [this, op, joinRelay] { whenRelayTurn(op, joinRelay); };
    if (path == QLatin1String("relay"))
        return viaRelay();

    const QList<PeerInfo::Endpoint> targets = haveEndpoint && initiator() ? QList<PeerInfo::Endpoint>{usedEndpoint}
                                                                          : peer.endpoints;
    if (targets.isEmpty())
        return viaRelay();
    auto failures = std::make_shared<int>(0);
    const int total = int(targets.size());
    auto* direct = new QObject(op);
    for (const PeerInfo::Endpoint& endpoint : targets) {
        auto* connector = new Connector(endpoint.address, endpoint.port, directTimeoutMs, direct);
        const auto failedOne = [failures, total, viaRelay, direct] {
            if (++*failures == total) {
                direct->deleteLater();
                viaRelay();
            }
        };
        connect(connector, &Connector::failed, direct, failedOne);
        connect(connector, &Connector::connected, direct, [=, this](int fd) {
            TlsStream* tls = tlsOver(fd, true, op);
            tls->setProperty("path", QStringLiteral("direct"));
            handshake(tls, true, opening, op, [=](const QJsonObject& answer, const QByteArray& rest, const QString& error) {
                if (error.isEmpty())
                    return finish(tls, answer, rest, {});
                tls->close();
                // A refusal from the peer is final; a failed connection may still work through the relay.
                if (!answer.isEmpty())
                    return finish(nullptr, answer, {}, error);
                failedOne();
            });
        });
    }
}

void PeerLink::countTunnel(bool isInbound, int delta)
{
    (isInbound ? inbound : outbound) += delta;
    Q_EMIT stateChanged();
}

LinkStatus PeerLink::status() const
{
    LinkStatus s;
    // Still linked but not answering: shown as broken at once, while the loss itself waits for more misses.
    const bool quiet = silent();
    s.state = quiet ? QStringLiteral("disconnected") : state_;
    s.path = path;
    s.peerPath = peerPath;
    s.appRttMs = connected() && !quiet ? rttMs : 0;
    s.connectMs = connectMs;
    s.restarts = restarts;
    s.sinceSec = double(quiet ? clock.elapsed() - unansweredSince : since.elapsed()) / 1000.0;
    s.trigger = quiet ? QStringLiteral("对方没有回应") : trigger;
    s.peerAllows = peerAllows;
    s.peerVersion = peerVersion;
    s.inboundTunnels = inbound;
    s.outboundTunnels = outbound;
    s.tunnels = inbound + outbound;
    return s;
}
