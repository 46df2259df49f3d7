#include "Node.h"

#include "LineReader.h"
#include "NetLog.h"
#include "PlainStream.h"
#include "Splice.h"
#include "TlsStream.h"
#include "Tunnel.h"
#include "link/DeviceName.h"
#include "link/DeviceProof.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkInterface>
#include <QRandomGenerator>
#include <QSettings>
#include <csignal>
#include <algorithm>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr qint64 controlLineLimit = 64 * 1024;
constexpr int controlTimeoutMs = 5000;
constexpr int renameTimeoutMs = 8000;
constexpr int syncTimeoutMs = 10000;
constexpr int dialWaitMs = 12000;
// Connections still in their handshake or hello from one address, and at most overall (below also a
// quarter of the descriptor limit).
constexpr int unverifiedPerAddress = 8;
constexpr int unverifiedMost = 128;
// Descriptors kept from the tunnels peers open, for the sockets, the app's dials, syncs and links; and the
// most tunnels one peer opens (each may hold a few MB in flight).
constexpr int reservedFiles = 64;
constexpr int tunnelsPerPeerMost = 128;
// Certificates the next sync looks for at most, and those refused remembered at most.
constexpr int strangersAskedMost = 64;
constexpr int strangersMost = 4096;
// A tunnel's resume that did not get through is tried again this soon while the link is up.
constexpr int resumeRetryMs = 1000;
// A tunnel whose own carrier went this shortly before its link did went for the same cause.
constexpr qint64 sameCauseMs = 3000;
// On the way out, how long the goodbyes to the peers get to leave before the connections close.
constexpr int goodbyeGraceMs = 300;

QString firstLine(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readLine(64 * 1024)).trimmed();
}

QString osRelease()
{
    QFile file(QStringLiteral("/etc/os-release"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("Linux");
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith("PRETTY_NAME="))
            return QString::fromUtf8(line.mid(12)).remove(QLatin1Char('"')).trimmed();
    return QStringLiteral("Linux");
}

// Unverified connections are counted per IPv4 address, and per /64 for IPv6, where one machine holds a
// whole /64.
QString addressKey(const QHostAddress& address)
{
    bool v4 = false;
    const quint32 ipv4 = address.toIPv4Address(&v4);
    if (v4)
        return QHostAddress(ipv4).toString();
    Q_IPV6ADDR bytes = address.toIPv6Address();
    std::fill(bytes.c + 8, bytes.c + 16, quint8(0));
    return QHostAddress(bytes).toString() + QStringLiteral("/64");
}

QString localNow() { return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); }

QByteArray line(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n'; }

const QString unknownCommand = QStringLiteral("不认识的命令");

QString newTunnelId()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex());
}

QJsonObject tunnelHello(const QString& self, int port, const QString& id)
{
    return {{QStringLiteral("kind"), QStringLiteral("tunnel")}, {QStringLiteral("id"), self},
            {QStringLiteral("port"), port}, {QStringLiteral("tunnel"), id}};
}

} // namespace

Node::Node(const ServeOptions& options, const NetConfig& config, Identity identity, QObject* parent)
    : QObject(parent), options(options), config(config), identity(std::move(identity)),
      allowInbound(options.allowInbound),
      service(QUrl(options.server), QUrl(options.fallbackServer), config.caFile, this)
{
    uptime.start();
    startParent = ::getppid();
    rlimit files{};
    const rlim_t fileLimit = ::getrlimit(RLIMIT_NOFILE, &files) == 0 ? files.rlim_cur : 1024;
    unverifiedCap = int(std::clamp<rlim_t>(fileLimit / 4, unverifiedPerAddress, unverifiedMost));
    // A tunnel holds two descriptors (the peer's connection and the sshd's); one peer gets half the room.
    tunnelCap = std::max(8, (int(std::min<rlim_t>(fileLimit, 1 << 16)) - unverifiedCap - reservedFiles) / 2);
    tunnelCapPerPeer = std::clamp(tunnelCap / 2, 4, tunnelsPerPeerMost);
    self = SelfRecord::load(QDir(options.state).filePath(QStringLiteral("device.json")), options.name);
    sshPubKey = firstLine(options.pubkeyFile);
    hostPubKey = firstLine(options.hostkeyFile);
    model = firstLine(QStringLiteral("/sys/class/dmi/id/product_name"));
    osVersion = osRelease();

    linkContext.tls = this->identity.context();
    linkContext.selfId = this->identity.deviceId();
    linkContext.version = QStringLiteral(TARNEL_VERSION);
    linkContext.config = config;
    linkContext.allowInbound = [this] { return allowInbound; };
    linkContext.relay = [this](const QString& peer, bool fresh, const QString& session, LinkContext::RelayDone done) {
        relay(peer, fresh, session, std::move(done));
    };
    linkContext.tunnelArrived = [this](const QString& peer, TlsStream* stream, const QJsonObject& hello,
                                       const QByteArray& rest) {
        if (PeerLink* link = links.value(peer))
            serveTunnel(link, stream, hello, rest, QStringLiteral("relay"));
        else
            stream->deleteLater();
    };
    linkContext.log = &NetLog::line;
    linkContext.devicesChanged = [this] { devicesChanged(); };

    connect(&syncTimer, &QTimer::timeout, this, &Node::sync);
    connect(&tickTimer, &QTimer::timeout, this, &Node::tick);
}

Node::~Node() = default;

std::optional<QString> Node::start()
{
    const QDir state(options.state);
    // The app polls as soon as it started us: the control socket comes before any network work.
    const QString controlPath = state.filePath(QStringLiteral("net.sock"));
    QFile::remove(controlPath); // a stale one; we hold the lock
    if (auto error = control.listenUnix(controlPath))
        return QStringLiteral("控制 socket 建不了：%1").arg(*error);
    connect(&control, &Listener::accepted, this, &Node::acceptControl);
    const QString dialPath = state.filePath(QStringLiteral("dial.sock"));
    QFile::remove(dialPath);
    if (auto error = dialer.listenUnix(dialPath))
        return QStringLiteral("dial socket 建不了：%1").arg(*error);
    connect(&dialer, &Listener::accepted, this, &Node::acceptDial);

    const QHostAddress listenAddress(config.listenHost);
    if (auto error = peers.listenTcp(listenAddress, config.listenPort)) {
        NetLog::line(QStringLiteral("端口 %1 用不了（%2），换一个").arg(config.listenPort).arg(*error));
        if (auto again = peers.listenTcp(listenAddress, 0))
            return QStringLiteral("监听不了 %1：%2").arg(config.listenHost, *again);
    }
    connect(&peers, &Listener::accepted, this, &Node::acceptPeer);

    NetLog::line(QStringLiteral("tarnel-net %1 启动：设备 %2（%3），端口 %4，%5")
                     .arg(linkContext.version, identity.deviceId(), self.name)
                     .arg(peers.port())
                     .arg(allowInbound ? QStringLiteral("允许其他设备连接") : QStringLiteral("不允许其他设备连接")));
    readToken();
    tickTimer.start(1000);
    syncTimer.start(config.syncMs);
    QMetaObject::invokeMethod(this, &Node::sync, Qt::QueuedConnection);
    return std::nullopt;
}

void Node::shutdown(int code)
{
    if (stopping)
        return;
    stopping = true;
    syncTimer.stop();
    tickTimer.stop();
    control.close();
    dialer.close();
    peers.close();
    const QDir state(options.state);
    QFile::remove(state.filePath(QStringLiteral("net.sock")));
    QFile::remove(state.filePath(QStringLiteral("dial.sock")));
    // The peers learn that this machine is gone on purpose: they drop it now instead of waiting for it.
    bool told = false;
    for (PeerLink* link : std::as_const(links))
        told = link->sayGoodbye() || told;
    QTimer::singleShot(told ? goodbyeGraceMs : 0, this, [this, code] {
        qDeleteAll(links);
        links.clear();
        QCoreApplication::exit(code);
    });
}

// ---- control socket

void Node::acceptControl(int fd)
{
    auto* client = new PlainStream(fd, this);
    auto* reader = new LineReader(client, controlLineLimit, controlTimeoutMs, client);
    connect(reader, &LineReader::message, this, [this, client, reader](const QJsonObject& request) {
        reader->detach();
        command(client, request);
    });
    connect(reader, &LineReader::failed, this, [this, client, reader](const QString& reason) {
        reader->detach();
        if (reason == QLatin1String("等回复超时"))
            return client->deleteLater();
        answer(client, QJsonObject{{QStringLiteral("error"), unknownCommand}});
    });
}

void Node::answer(PlainStream* client, const QJsonObject& reply)
{
    client->write(line(reply));
    client->finishWrite();
    if (client->pendingWrite() == 0)
        return client->deleteLater();
    connect(client, &Stream::written, client, [client] {
        if (client->pendingWrite() == 0)
            client->deleteLater();
    });
    connect(client, &Stream::broken, client, &QObject::deleteLater);
}

void Node::command(PlainStream* client, const QJsonObject& request)
{
    const QString cmd = request.value(QStringLiteral("cmd")).toString();
    if (cmd == QLatin1String("status"))
        return answer(client, statusDocument());
    if (cmd == QLatin1String("allow") && request.value(QStringLiteral("on")).isBool()) {
        const bool on = request.value(QStringLiteral("on")).toBool();
        if (on != allowInbound) {
            allowInbound = on;
            NetLog::line(on ? QStringLiteral("已允许其他设备连接这台电脑") : QStringLiteral("已不允许其他设备连接这台电脑"));
            if (!on)
                closeInbound({});
            for (PeerLink* link : std::as_const(links))
                link->tellAllow(on);
            QMetaObject::invokeMethod(this, &Node::sync, Qt::QueuedConnection);
        }
        return answer(client, statusDocument());
    }
    if (cmd == QLatin1String("rename"))
        return rename(client, request);
    if (cmd == QLatin1String("netchange")) {
        NetLog::line(QStringLiteral("网络变了：重新同步、重连"));
        for (PeerLink* link : std::as_const(links))
            link->kick(QStringLiteral("netchange"));
        QMetaObject::invokeMethod(this, &Node::sync, Qt::QueuedConnection);
        return answer(client, statusDocument());
    }
    if (cmd == QLatin1String("devices")) {
        // The app removed a device: the linked peers learn it now, not at their next sync.
        for (PeerLink* link : std::as_const(links))
            link->tellDevices();
        QMetaObject::invokeMethod(this, &Node::sync, Qt::QueuedConnection);
        return answer(client, statusDocument());
    }
    if (cmd == QLatin1String("quit")) {
        NetLog::line(QStringLiteral("收到退出命令"));
        answer(client, QJsonObject{{QStringLiteral("ok"), true}});
        // The answer goes out first; the end comes within a second whatever the client does.
        connect(client, &QObject::destroyed, this, [this] { shutdown(0); });
        QTimer::singleShot(500, this, [this] { shutdown(0); });
        return;
    }
    answer(client, QJsonObject{{QStringLiteral("error"), unknownCommand}});
}

void Node::rename(PlainStream* client, const QJsonObject& request)
{
    const QString name = SelfRecord::trimName(request.value(QStringLiteral("name")).toString());
    const QString alias = request.value(QStringLiteral("alias")).toString();
    const auto refuse = [this, client](const QString& text) {
        answer(client, QJsonObject{{QStringLiteral("error"), text}});
    };
    if (!request.value(QStringLiteral("alias")).isString() || !SelfRecord::validAlias(alias))
        return refuse(QStringLiteral("别名只能是 qx- 加小写字母、数字、短横，最长 24 个字符"));
    if (const auto problem = DeviceName::problem(name))
        return refuse(*problem);
    if (!service.hasToken())
        return refuse(QStringLiteral("还没登录账号，改不了名字"));
    QPointer<PlainStream> waiting = client;
    service.post(QStringLiteral("api/net/rename"),
                 QJsonObject{{QStringLiteral("id"), identity.deviceId()}, {QStringLiteral("name"), name},
                             {QStringLiteral("alias"), alias}},
                 renameTimeoutMs, [this, waiting, name, alias](const ServiceClient::Reply& reply) {
                     if (refusedAccount(reply))
                         return;
                     if (reply.status == 200) {
                         const QJsonObject device = reply.body.value(QStringLiteral("device")).toObject();
                         self.name = device.value(QStringLiteral("name")).toString(name);
                         self.alias = device.value(QStringLiteral("alias")).toString(alias);
                         ++renames;
                         saveSelf();
                         NetLog::line(QStringLiteral("这台电脑改名为「%1」（%2）").arg(self.name, self.alias));
                     } else {
                         NetLog::line(QStringLiteral("改名没有成功：%1").arg(reply.error));
                     }
                     if (!waiting)
                         return;
                     if (reply.status == 200)
                         answer(waiting, statusDocument());
                     else
                         answer(waiting, QJsonObject{{QStringLiteral("error"), reply.status == 0
                                                                                     ? QStringLiteral("连不上账号服务，改名没有成功")
                                                                                     : reply.error}});
                 });
}

QJsonObject Node::statusDocument() const
{
    NodeStatus document;
    document.version = linkContext.version;
    document.pid = QCoreApplication::applicationPid();
    document.uptimeSec = double(uptime.elapsed()) / 1000.0;
    document.allowInbound = allowInbound;
    document.device = SelfDevice{identity.deviceId(), self.name, self.alias, self.createdAt};
    document.site = SiteStatus{siteOk, siteError, siteOkAt};
    document.devicesVersion = devicesVersion;
    for (const QString& id : order) {
        const PeerLink* link = links.value(id);
        if (!link)
            continue;
        const PeerInfo& p = link->info();
        PeerDevice peer{p.id,         p.name,       p.alias,        p.sshUser,  p.sshPubKey,
                        p.hostPubKey, p.model,      p.osVersion,    p.appBuild, p.remoteAccess,
                        p.online,     p.lastSeen,   std::nullopt};
        // A device this one is linked with is online, whatever the service last heard from it; one that
        // said it quit is not, though the service has yet to notice.
        peer.online = (p.online && !link->departed()) || link->connected();
        if (link->tried())
            peer.link = link->status();
        document.peers.append(peer);
    }
    return document.toJson();
}

// ---- dial

void Node::acceptDial(int fd)
{
    auto* client = new PlainStream(fd, this);
    auto* reader = new LineReader(client, 4096, controlTimeoutMs, client);
    connect(reader, &LineReader::message, this, [this, client, reader](const QJsonObject& request) {
        const QByteArray rest = reader->detach();
        reader->deleteLater();
        dial(client, request, rest);
    });
    connect(reader, &LineReader::failed, client, &QObject::deleteLater);
}

void Node::refuseDial(PlainStream* client, const QString& text)
{
    NetLog::line(QStringLiteral("dial 没有接通：%1").arg(text));
    answer(client, QJsonObject{{QStringLiteral("error"), text}});
}

void Node::dial(PlainStream* client, const QJsonObject& request, const QByteArray& rest)
{
    const QString id = request.value(QStringLiteral("peer")).toString();
    const int port = request.value(QStringLiteral("port")).toInt(0);
    PeerLink* link = links.value(id);
    if (!service.hasToken())
        return refuseDial(client, QStringLiteral("tarnel-net：还没登录账号，连不上"));
    if (!link)
        return refuseDial(client, QStringLiteral("tarnel-net：账号里没有这台设备（%1），连不上").arg(id));
    if ((!link->info().online || link->departed()) && !link->connected())
        return refuseDial(client, QStringLiteral("tarnel-net：「%1」不在线").arg(link->info().shownName()));

    QPointer<PlainStream> caller = client;
    QPointer<PeerLink> target = link;
    auto started = std::make_shared<bool>(false);
    auto go = [this, caller, target, port, rest, started] {
        if (!caller || !target || std::exchange(*started, true))
            return;
        const QString tunnelId = newTunnelId();
        const QJsonObject opening = tunnelHello(identity.deviceId(), port, tunnelId);
        target->openTunnel(opening, [this, caller, target, rest, port, tunnelId](TlsStream* tls, const QJsonObject& answer,
                                                                                  const QByteArray& tail, const QString& error) {
            if (!caller || !target) {
                if (tls)
                    tls->deleteLater();
                return;
            }
            if (!tls)
                return refuseDial(caller, QStringLiteral("tarnel-net：连不上「%1」：%2").arg(target->info().shownName(), error));
            caller->write(line(QJsonObject{{QStringLiteral("ok"), true}}));
            tls->setParent(this);
            if (answer.value(QStringLiteral("tunnel")).toString() == tunnelId) {
                auto* tunnel = new Tunnel(tunnelId, caller, rest, config.tunnelResumeMs, this);
                keep(tunnel, target, tls->property("path").toString(), port, true);
                tunnel->attach(tls, qint64(answer.value(QStringLiteral("got")).toDouble()),
                               answer.value(QStringLiteral("end")).toBool(), tail);
                return;
            }
            // A peer of an earlier build: the tunnel ends with its connection.
            auto* splice = new Splice(caller, tls, rest, tail, this);
            target->countTunnel(false, 1);
            carry(target, splice, tls->property("path").toString());
            connect(splice, &Splice::finished, this, [caller, tls, splice, target] {
                if (target)
                    target->countTunnel(false, -1);
                splice->deleteLater();
                tls->deleteLater();
                if (caller)
                    caller->deleteLater();
            });
        });
    };
    if (link->connected())
        return go();
    // The link may be on its way: wait a while for it.
    link->kick(QStringLiteral("dial"));
    auto* waiter = new QObject(client);
    QTimer::singleShot(dialWaitMs, waiter, [this, waiter, caller] {
        waiter->deleteLater();
        if (caller)
            refuseDial(caller, QStringLiteral("tarnel-net：两台之间的连接还没建好，稍后再试"));
    });
    connect(link, &PeerLink::stateChanged, waiter, [waiter, target, go] {
        if (target && target->connected()) {
            waiter->deleteLater();
            go();
        }
    });
}

// ---- peers

bool Node::listed(const QString& address) const
{
    for (const PeerLink* link : std::as_const(links))
        for (const PeerInfo::Endpoint& endpoint : link->info().endpoints)
            if (addressKey(endpoint.address) == address)
                return true;
    return false;
}

void Node::acceptPeer(int fd, const QHostAddress& from)
{
    const QString address = addressKey(from);
    // Strangers leave a quarter of the room to the addresses the account's devices advertise.
    const int room = listed(address) ? unverifiedCap : unverifiedCap - unverifiedCap / 4;
    if (unverified >= room || unverifiedFrom.value(address) >= unverifiedPerAddress) {
        ::close(fd);
        if (!crowdedSaid.isValid() || crowdedSaid.elapsed() > 60000) {
            crowdedSaid.start();
            NetLog::line(QStringLiteral("还没验明身份的连接太多（%1 来的），先拒绝新连接").arg(address));
        }
        return;
    }
    ++unverified;
    ++unverifiedFrom[address];
    auto* stream = new TlsStream(fd, identity.context(), TlsStream::Role::Server, [this](const QString& fingerprint) {
        if (knownCertificate(fingerprint))
            return true;
        stranger(fingerprint);
        return false;
    }, this);
    auto* reader = new LineReader(stream, 64 * 1024, 10000, stream);
    // The reader goes once the hello came or the connection failed.
    connect(reader, &QObject::destroyed, this, [this, address] {
        --unverified;
        if (--unverifiedFrom[address] <= 0)
            unverifiedFrom.remove(address);
    });
    connect(reader, &LineReader::message, this, [this, stream, reader](const QJsonObject& hello) {
        const QByteArray rest = reader->detach();
        reader->deleteLater();
        peerHello(stream, hello, rest);
    });
    connect(reader, &LineReader::failed, stream, [this, stream, reader] {
        reader->detach();
        // A known device that came and said nothing knocked: it has just started and is reachable directly.
        if (const QString fingerprint = stream->peerFingerprint(); !fingerprint.isEmpty())
            knockedBy(fingerprint);
        stream->deleteLater();
    });
}

bool Node::knownCertificate(const QString& fingerprint) const
{
    for (const PeerLink* link : std::as_const(links))
        if (link->info().certSha256 == fingerprint)
            return true;
    return false;
}

void Node::stranger(const QString& fingerprint)
{
    // Perhaps a device that joined since the last sync. Whoever can reach the port can show new
    // certificates without end: they bring the next sync forward only once per interval.
    if (strangers.contains(fingerprint) || strangersLookingUp.contains(fingerprint) ||
        strangersAsked.size() >= strangersAskedMost)
        return;
    strangersAsked.insert(fingerprint);
    if (strangerSync.isValid() && strangerSync.elapsed() < config.strangerSyncMs)
        return;
    strangerSync.start();
    QMetaObject::invokeMethod(this, &Node::sync, Qt::QueuedConnection);
}

void Node::settleStrangers(const QSet<QString>& lookedUp)
{
    if (strangers.size() + lookedUp.size() > strangersMost)
        strangers.clear();
    for (const QString& fingerprint : lookedUp)
        if (!knownCertificate(fingerprint))
            strangers.insert(fingerprint);
}

void Node::knockedBy(const QString& fingerprint)
{
    for (PeerLink* link : std::as_const(links)) {
        if (link->info().certSha256 != fingerprint)
            continue;
        NetLog::line(QStringLiteral("「%1」敲了门：重新同步，试直连").arg(link->info().shownName()));
        devicesChanged(); // the service knows it is online again; this side learns it now
        link->knocked();
        return;
    }
}

void Node::peerHello(TlsStream* stream, const QJsonObject& hello, const QByteArray& rest)
{
    PeerLink* link = links.value(hello.value(QStringLiteral("id")).toString());
    if (!link || link->info().certSha256 != stream->peerFingerprint()) {
        stream->write(line(QJsonObject{{QStringLiteral("error"), QStringLiteral("对方不认识这台设备")}}));
        stream->finishWrite();
        QTimer::singleShot(1000, stream, &QObject::deleteLater);
        return;
    }
    const QString kind = hello.value(QStringLiteral("kind")).toString();
    if (kind == QLatin1String("link")) {
        NetLog::line(QStringLiteral("「%1」连进来了").arg(link->info().shownName()));
        return link->adopt(stream, hello, rest, QStringLiteral("direct"));
    }
    serveTunnel(link, stream, hello, rest, QStringLiteral("direct"));
}

void Node::serveTunnel(PeerLink* link, TlsStream* stream, const QJsonObject& hello, const QByteArray& rest,
                       const QString& path)
{
    stream->setParent(this);
    const auto refuse = [this, stream, link](const QString& text, bool quiet = false) {
        if (!quiet)
            NetLog::line(QStringLiteral("拒绝了「%1」的连接：%2").arg(link->info().shownName(), text));
        stream->write(line(QJsonObject{{QStringLiteral("error"), text}}));
        stream->finishWrite();
        QTimer::singleShot(1000, stream, &QObject::deleteLater);
    };
    if (hello.value(QStringLiteral("kind")).toString() != QLatin1String("tunnel"))
        return refuse(QStringLiteral("对方看不懂这个请求"));
    if (!allowInbound)
        return refuse(QStringLiteral("对方没允许被连接"));
    if (hello.value(QStringLiteral("port")).toInt() != 22)
        return refuse(QStringLiteral("对方只接受到 22 端口的连接"));
    const QString tunnelId = hello.value(QStringLiteral("tunnel")).toString();
    if (tunnelId.size() > 64)
        return refuse(QStringLiteral("对方看不懂这个请求"));
    if (hello.contains(QStringLiteral("got"))) {
        Tunnel* tunnel = servedTunnel(link->info().id, tunnelId);
        if (!tunnel)
            return refuse(QStringLiteral("这条通道已经关了"));
        stream->write(line(QJsonObject{{QStringLiteral("ok"), true},
                                       {QStringLiteral("tunnel"), tunnelId},
                                       {QStringLiteral("got"), double(tunnel->received())},
                                       {QStringLiteral("end"), tunnel->receivedEnd()}}));
        resumable[tunnel].path = path;
        NetLog::line(QStringLiteral("「%1」的通道接上了（%2），接着传")
                         .arg(link->info().shownName(), path == QLatin1String("relay") ? QStringLiteral("中转") : QStringLiteral("直连")));
        tunnel->attach(stream, qint64(hello.value(QStringLiteral("got")).toDouble()),
                       hello.value(QStringLiteral("end")).toBool(), rest);
        return;
    }
    if (!tunnelId.isEmpty() && servedTunnel(link->info().id, tunnelId))
        return refuse(QStringLiteral("对方看不懂这个请求"));
    QObject* slot = admitTunnel(link->info().id, stream);
    if (!slot) {
        const bool said = tunnelsFullSaid.isValid() && tunnelsFullSaid.elapsed() < 60000;
        if (!said) {
            tunnelsFullSaid.start();
            NetLog::line(QStringLiteral("「%1」开的通道太多了（%2 条），先拒绝新的")
                             .arg(link->info().shownName())
                             .arg(tunnelsFrom.value(link->info().id)));
        }
        return refuse(QStringLiteral("对方开着的通道太多了，稍后再试"), true);
    }

    auto* connector = new Connector(QHostAddress(config.sshHost), config.sshPort, 5000, stream);
    connect(connector, &Connector::failed, stream, [refuse, connector](const QString& reason) {
        connector->deleteLater();
        refuse(QStringLiteral("对方的 sshd 没有在监听（%1）").arg(reason));
    });
    QPointer<PeerLink> owner = link;
    connect(connector, &Connector::connected, stream, [this, stream, rest, connector, owner, path, tunnelId, slot](int fd) {
        connector->deleteLater();
        auto* sshd = new PlainStream(fd, this);
        if (!tunnelId.isEmpty() && owner) {
            // The opener can resume it: it outlives the connection it came on.
            stream->write(line(QJsonObject{{QStringLiteral("ok"), true},
                                           {QStringLiteral("tunnel"), tunnelId},
                                           {QStringLiteral("got"), 0},
                                           {QStringLiteral("end"), false}}));
            auto* tunnel = new Tunnel(tunnelId, sshd, {}, config.tunnelResumeMs, this);
            slot->setParent(tunnel);
            keep(tunnel, owner, path, 22, false);
            inbound.insert(tunnel, {owner->info().id, [tunnel] { tunnel->close(QStringLiteral("这台电脑不再接受它的连接")); }});
            tunnel->attach(stream, 0, false, rest);
            return;
        }
        stream->write(line(QJsonObject{{QStringLiteral("ok"), true}}));
        auto* splice = new Splice(stream, sshd, rest, {}, this);
        slot->setParent(splice);
        if (owner) {
            owner->countTunnel(true, 1);
            carry(owner, splice, path);
        }
        const auto end = [this, stream, sshd, splice, owner] {
            if (!inbound.remove(splice))
                return;
            if (owner)
                owner->countTunnel(true, -1);
            splice->deleteLater();
            stream->close();
            sshd->close();
            stream->deleteLater();
            sshd->deleteLater();
        };
        inbound.insert(splice, {owner ? owner->info().id : QString(), end});
        connect(splice, &Splice::finished, this, end);
    });
}

QObject* Node::admitTunnel(const QString& peer, QObject* holder)
{
    if (tunnelsIn >= tunnelCap || tunnelsFrom.value(peer) >= tunnelCapPerPeer)
        return nullptr;
    ++tunnelsIn;
    ++tunnelsFrom[peer];
    auto* slot = new QObject(holder);
    connect(slot, &QObject::destroyed, this, [this, peer] {
        --tunnelsIn;
        if (--tunnelsFrom[peer] <= 0)
            tunnelsFrom.remove(peer);
    });
    return slot;
}

void Node::closeInbound(const QString& peer)
{
    const QHash<QObject*, InboundTunnel> open = inbound; // each end takes itself out
    int closed = 0;
    for (const InboundTunnel& tunnel : open)
        if (peer.isEmpty() || tunnel.peer == peer) {
            tunnel.end();
            ++closed;
        }
    if (closed > 0)
        NetLog::line(QStringLiteral("关掉了 %1 条连进来的通道").arg(closed));
}

void Node::devicesChanged()
{
    if (devicesKnock.isValid() && devicesKnock.elapsed() < 1000)
        return;
    devicesKnock.start();
    QMetaObject::invokeMethod(this, &Node::sync, Qt::QueuedConnection);
}

void Node::carry(PeerLink* link, Splice* splice, const QString& path)
{
    carried.insert(splice, Carried{link, path});
    // Ended by its own side or closed from here (a removed device, inbound turned off): forget it either way.
    connect(splice, &Splice::finished, this, [this, splice] { carried.remove(splice); });
    connect(splice, &QObject::destroyed, this, [this, splice] { carried.remove(splice); });
}

void Node::linkLost(PeerLink* link, const QString& path)
{
    // Tunnels that can resume wait for the next link, whichever path they ride: the link's pings are what
    // tells a silent carrier, so each waits the same time. Those of a peer of an earlier build end now: ssh
    // (and a master connection it keeps) learns at once that they are gone and reconnects over whatever
    // path the link finds next, instead of waiting out its own keep-alive.
    // So do those whose own carrier went just before, for the same cause (a machine that quit or crashed:
    // through the relay, its sessions may end before the link does).
    QList<Tunnel*> waiting;
    for (auto it = resumable.begin(); it != resumable.end(); ++it)
        if (it->link == link && (it.key()->attached() || (it->dropped.isValid() && it->dropped.elapsed() < sameCauseMs))) {
            it->dropped.invalidate();
            waiting.append(it.key());
        }
    if (!waiting.isEmpty())
        NetLog::line(QStringLiteral("到「%1」的连接断了，%2 条通道等它接上（最多 %3 秒）")
                         .arg(link->info().shownName())
                         .arg(waiting.size())
                         .arg(config.tunnelResumeMs / 1000.0));
    for (Tunnel* tunnel : std::as_const(waiting))
        if (tunnel->attached())
            tunnel->detach(QStringLiteral("连接断了"));
    QList<Splice*> riding;
    for (auto it = carried.cbegin(); it != carried.cend(); ++it)
        if (it->link == link && it->path == path)
            riding.append(it.key());
    if (riding.isEmpty())
        return;
    NetLog::line(QStringLiteral("到「%1」的连接断了，关掉走这条路的 %2 条通道").arg(link->info().shownName()).arg(riding.size()));
    for (Splice* splice : std::as_const(riding))
        splice->cut(QStringLiteral("连接断了"));
}

void Node::peerLeft(PeerLink* link)
{
    // Its end of every tunnel went with it: none can resume.
    QList<Tunnel*> open;
    for (auto it = resumable.cbegin(); it != resumable.cend(); ++it)
        if (it->link == link)
            open.append(it.key());
    QList<Splice*> riding;
    for (auto it = carried.cbegin(); it != carried.cend(); ++it)
        if (it->link == link)
            riding.append(it.key());
    if (open.isEmpty() && riding.isEmpty())
        return;
    NetLog::line(QStringLiteral("「%1」退出了，关掉和它之间的 %2 条通道").arg(link->info().shownName()).arg(open.size() + riding.size()));
    const QString reason = QStringLiteral("对方退出了");
    for (Tunnel* tunnel : std::as_const(open))
        tunnel->close(reason);
    for (Splice* splice : std::as_const(riding))
        splice->cut(reason);
}

void Node::follow(PeerLink* link)
{
    const QString path = link->currentPath();
    QList<Tunnel*> away;
    for (auto it = resumable.cbegin(); it != resumable.cend(); ++it)
        if (it->link == link && it->outgoing && !it->resuming && it->path != path && it.key()->attached())
            away.append(it.key());
    if (away.isEmpty())
        return;
    const QString word = path == QLatin1String("relay") ? QStringLiteral("中转") : QStringLiteral("直连");
    NetLog::line(QStringLiteral("到「%1」的 %2 条通道换到%3").arg(link->info().shownName(), QString::number(away.size()), word));
    // Each drops its carrier and resumes over the link's path from where the other side got to.
    for (Tunnel* tunnel : std::as_const(away))
        tunnel->detach(QStringLiteral("换到%1").arg(word));
}

void Node::keep(Tunnel* tunnel, PeerLink* link, const QString& path, int port, bool outgoing)
{
    link->countTunnel(!outgoing, 1); // before it is listed: not a tunnel to resume yet
    resumable.insert(tunnel, Resumable{link, link->info().id, path, port, outgoing, false, {}});
    connect(tunnel, &Tunnel::suspended, this, [this, tunnel] {
        if (const auto it = resumable.find(tunnel); it != resumable.end() && it->link && it->link->connected())
            it->dropped.start();
        resume(tunnel);
    });
    connect(tunnel, &Tunnel::finished, this, [this, tunnel](const QString& reason) {
        const Resumable gone = resumable.take(tunnel);
        inbound.remove(tunnel);
        if (gone.link)
            gone.link->countTunnel(!gone.outgoing, -1);
        if (!reason.isEmpty())
            NetLog::line(QStringLiteral("和「%1」之间的一条通道关了：%2")
                             .arg(gone.link ? gone.link->info().shownName() : gone.peer, reason));
        tunnel->deleteLater();
    });
}

void Node::resume(Tunnel* tunnel)
{
    const auto it = resumable.find(tunnel);
    if (it == resumable.end() || !it->outgoing || it->resuming || tunnel->attached() || !it->link ||
        !it->link->connected())
        return;
    it->resuming = true;
    QJsonObject opening = tunnelHello(identity.deviceId(), it->port, tunnel->id());
    opening.insert(QStringLiteral("got"), double(tunnel->received()));
    opening.insert(QStringLiteral("end"), tunnel->receivedEnd());
    QPointer<Tunnel> guard = tunnel;
    const QString askedOn = it->link->currentPath();
    it->link->openTunnel(opening, [this, guard, askedOn](TlsStream* tls, const QJsonObject& answer,
                                                         const QByteArray& rest, const QString& error) {
        const auto entry = guard ? resumable.find(guard) : resumable.end();
        if (entry == resumable.end()) {
            if (tls)
                tls->deleteLater();
            return;
        }
        entry->resuming = false;
        if (!tls) {
            if (!answer.isEmpty()) // refused: the peer no longer has it
                return guard->close(error);
            QTimer::singleShot(resumeRetryMs, guard, [this, guard] { resume(guard); });
            return;
        }
        entry->path = tls->property("path").toString();
        NetLog::line(QStringLiteral("到「%1」的通道接上了（%2），接着传")
                         .arg(entry->link ? entry->link->info().shownName() : entry->peer,
                              entry->path == QLatin1String("relay") ? QStringLiteral("中转") : QStringLiteral("直连")));
        // The link moved on while this resumed over the path it left: it follows once it is on.
        const QPointer<PeerLink> link = entry->link;
        const bool behind = link && link->currentPath() != askedOn && link->currentPath() != entry->path;
        guard->attach(tls, qint64(answer.value(QStringLiteral("got")).toDouble()),
                      answer.value(QStringLiteral("end")).toBool(), rest);
        if (behind && guard && link)
            follow(link);
    });
}

void Node::resumeAll(PeerLink* link)
{
    QList<Tunnel*> waiting;
    for (auto it = resumable.cbegin(); it != resumable.cend(); ++it)
        if (it->link == link && it->outgoing && !it.key()->attached())
            waiting.append(it.key());
    for (Tunnel* tunnel : std::as_const(waiting))
        resume(tunnel);
}

Tunnel* Node::servedTunnel(const QString& peer, const QString& id) const
{
    for (auto it = resumable.cbegin(); it != resumable.cend(); ++it)
        if (!it->outgoing && it->peer == peer && it.key()->id() == id)
            return it.key();
    return nullptr;
}

void Node::closeOutgoing(const QString& peer)
{
    QList<Tunnel*> open;
    for (auto it = resumable.cbegin(); it != resumable.cend(); ++it)
        if (it->outgoing && (peer.isEmpty() || it->peer == peer))
            open.append(it.key());
    for (Tunnel* tunnel : std::as_const(open))
        tunnel->close(QStringLiteral("对方已不在账号里"));
}

void Node::relay(const QString& peer, bool fresh, const QString& session, LinkContext::RelayDone done)
{
    QJsonObject body{{QStringLiteral("id"), identity.deviceId()}, {QStringLiteral("peer"), peer}};
    if (fresh)
        body.insert(QStringLiteral("fresh"), true);
    if (!session.isEmpty())
        body.insert(QStringLiteral("session"), session);
    service.post(QStringLiteral("api/net/relay"), body, syncTimeoutMs, [this, done](const ServiceClient::Reply& reply) {
        if (refusedAccount(reply))
            return;
        if (reply.status != 200)
            return done(-1, {}, reply.error);
        const QHostAddress host(reply.body.value(QStringLiteral("host")).toString());
        const int port = reply.body.value(QStringLiteral("port")).toInt();
        const QString id = reply.body.value(QStringLiteral("session")).toString();
        const QByteArray ticket = "TARNEL-RELAY " + reply.body.value(QStringLiteral("ticket")).toString().toLatin1() + '\n';
        if (host.isNull() || port <= 0)
            return done(-1, {}, QStringLiteral("中转地址不对"));
        auto* connector = new Connector(host, port, 5000, this);
        connect(connector, &Connector::failed, this, [connector, done](const QString& reason) {
            connector->deleteLater();
            done(-1, {}, QStringLiteral("中转连不上（%1）").arg(reason));
        });
        connect(connector, &Connector::connected, this, [connector, done, id, ticket](int fd) {
            connector->deleteLater();
            if (::send(fd, ticket.constData(), size_t(ticket.size()), MSG_NOSIGNAL) != ticket.size()) {
                ::close(fd);
                return done(-1, {}, QStringLiteral("中转连不上"));
            }
            done(fd, id, {});
        });
    });
}

// ---- account service

bool Node::refusedAccount(const ServiceClient::Reply& reply)
{
    if (reply.status != 401 && reply.status != 403)
        return false;
    NetLog::line(QStringLiteral("账号服务不再接受这个登录（HTTP %1：%2），tarnel-net 退出").arg(reply.status).arg(reply.error));
    shutdown(3);
    return true;
}

QJsonArray Node::endpoints() const
{
    QList<QHostAddress> addresses = config.advertise;
    if (addresses.isEmpty()) {
        for (const QHostAddress& address : QNetworkInterface::allAddresses())
            if (!address.isLoopback() && !address.isLinkLocal() && !address.isNull())
                addresses.append(address);
    }
    QJsonArray list;
    for (const QHostAddress& address : std::as_const(addresses)) {
        if (list.size() >= 16)
            break;
        QHostAddress plain(address);
        plain.setScopeId({});
        list.append(QJsonObject{{QStringLiteral("host"), plain.toString()}, {QStringLiteral("port"), peers.port()}});
    }
    return list;
}

void Node::sync()
{
    if (stopping || removed)
        return;
    if (!service.hasToken()) {
        siteOk = false;
        siteError = QStringLiteral("还没登录账号");
        return;
    }
    if (syncing) {
        syncAgain = true;
        return;
    }
    syncing = true;
    const QJsonObject body{
        {QStringLiteral("id"), identity.deviceId()},
        {QStringLiteral("name"), self.name},
        {QStringLiteral("alias"), self.alias},
        {QStringLiteral("sshUser"), options.sshUser},
        {QStringLiteral("sshPubKey"), sshPubKey},
        {QStringLiteral("hostPubKey"), hostPubKey},
        {QStringLiteral("model"), model},
        {QStringLiteral("osVersion"), osVersion},
        {QStringLiteral("appBuild"), double(options.appBuildNumber())},
        {QStringLiteral("remoteAccess"), allowInbound},
        {QStringLiteral("version"), linkContext.version},
        {QStringLiteral("certSha256"), identity.fingerprint()},
        {QStringLiteral("certificate"), QString::fromLatin1(identity.certificate().toBase64())},
        {QStringLiteral("proof"), QString::fromLatin1(identity.sign(DeviceProof::statement(
                                      identity.deviceId(),
                                      QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex()))
                                                          .toBase64())},
        {QStringLiteral("endpoints"), endpoints()},
    };
    const int renamesBefore = renames;
    strangersLookingUp = std::exchange(strangersAsked, {});
    service.post(QStringLiteral("api/net/sync"), body, syncTimeoutMs, [this, renamesBefore](const ServiceClient::Reply& reply) {
        syncing = false;
        const bool renamedMeanwhile = renames != renamesBefore;
        if (renamedMeanwhile)
            syncAgain = true; // this sync carried the old name; send the new one
        synced(reply, renamedMeanwhile);
        const QSet<QString> lookedUp = std::exchange(strangersLookingUp, {});
        if (siteOk && reply.status == 200)
            settleStrangers(lookedUp);
        else
            strangersAsked.unite(lookedUp); // the next sync looks for them
        if (std::exchange(syncAgain, false))
            sync();
    });
}

void Node::synced(const ServiceClient::Reply& reply, bool selfRenamedMeanwhile)
{
    if (refusedAccount(reply) || stopping)
        return;
    const QJsonValue devices = reply.body.value(QStringLiteral("devices"));
    bool complete = reply.status == 200 && devices.isArray();
    for (const QJsonValue& item : devices.toArray())
        complete = complete && item.isObject();
    if (!complete) {
        const QString error = reply.status == 200 ? QStringLiteral("账号服务的设备列表不完整") : reply.error;
        if (siteOk || error != siteError)
            NetLog::line(QStringLiteral("同步设备列表失败：%1").arg(error));
        siteOk = false;
        siteError = error;
        if (reply.status == 410 && token != rejoinedWith) {
            NetLog::line(QStringLiteral("这台设备已被移出账号；用现在的登录换一个设备身份重新加入"));
            return shutdown(rejoinCode);
        }
        if (reply.status == 410) {
            removed = true;
            closeInbound({});
            closeOutgoing({});
            qDeleteAll(links);
            links.clear();
            order.clear();
        }
        return;
    }
    const QJsonObject device = reply.body.value(QStringLiteral("device")).toObject();
    const SelfRecord before = self;
    if (!selfRenamedMeanwhile) {
        self.name = device.value(QStringLiteral("name")).toString(self.name);
        self.alias = device.value(QStringLiteral("alias")).toString(self.alias);
    }
    self.createdAt = device.value(QStringLiteral("createdAt")).toString(self.createdAt);
    if (self.name != before.name || self.alias != before.alias || self.createdAt != before.createdAt)
        saveSelf();
    if (!siteOk)
        NetLog::line(QStringLiteral("已和账号服务同步：账号里另有 %1 台设备").arg(devices.toArray().size()));
    siteOk = true;
    siteError.clear();
    siteOkAt = localNow();
    devicesVersion = reply.body.value(QStringLiteral("devicesVersion")).toString();
    adoptPeers(devices.toArray());
}

void Node::adoptPeers(const QJsonArray& devices)
{
    QStringList seen;
    for (const QJsonValue& item : devices) {
        const auto info = PeerInfo::fromService(item.toObject());
        if (!info || info->id == identity.deviceId() || seen.contains(info->id))
            continue;
        seen.append(info->id);
        if (PeerLink* link = links.value(info->id)) {
            const QList<PeerInfo::Endpoint> known = link->info().endpoints;
            link->update(*info);
            // New addresses: a tunnel that fell back to the relay while the link is direct may come home now.
            if (link->info().endpoints != known && link->connected() && link->currentPath() == QLatin1String("direct"))
                follow(link);
            continue;
        }
        auto* link = new PeerLink(linkContext, *info, this);
        links.insert(info->id, link);
        connect(link, &PeerLink::lost, this, [this, link](const QString& path) { linkLost(link, path); });
        connect(link, &PeerLink::left, this, [this, link] { peerLeft(link); });
        connect(link, &PeerLink::moved, this, [this, link] { follow(link); });
        connect(link, &PeerLink::stateChanged, this, [this, link] {
            if (link->connected())
                resumeAll(link);
        });
        connect(link, &QObject::destroyed, this, [this, link] {
            carried.removeIf([link](const auto& entry) { return entry.value().link == link; });
        });
        NetLog::line(QStringLiteral("账号里有设备「%1」（%2）").arg(info->shownName(), info->alias));
        link->kick(QStringLiteral("sync"));
        link->knock();
    }
    bool gone = false;
    for (auto it = links.begin(); it != links.end();) {
        if (seen.contains(it.key())) {
            ++it;
            continue;
        }
        NetLog::line(QStringLiteral("设备「%1」已不在账号里").arg(it.value()->info().shownName()));
        closeInbound(it.key());
        closeOutgoing(it.key());
        it.value()->deleteLater();
        it = links.erase(it);
        gone = true;
    }
    order = seen;
    // The others may not have synced since: they learn of it now.
    if (gone)
        for (PeerLink* link : std::as_const(links))
            link->tellDevices();
}

void Node::saveSelf()
{
    if (const Outcome<> saved = self.save(QDir(options.state).filePath(QStringLiteral("device.json"))); !saved.ok())
        NetLog::line(QStringLiteral("写不了 device.json：%1").arg(saved.failure()));
}

// ---- once a second

void Node::tick()
{
    // Gone, or (when the app is our parent) a zombie whose child we no longer are.
    const bool orphaned = options.parentPid == startParent && ::getppid() != startParent;
    if (options.parentPid > 0 && (orphaned || (::kill(pid_t(options.parentPid), 0) != 0 && errno == ESRCH))) {
        NetLog::line(QStringLiteral("tarnel 已经退出，tarnel-net 跟着退出"));
        return shutdown(0);
    }
    if (readToken())
        sync();
}

bool Node::readToken()
{
    const QFileInfo info(options.tokenFile);
    const QString signature = info.exists() ? QStringLiteral("%1/%2/%3")
                                                  .arg(info.size())
                                                  .arg(info.lastModified().toMSecsSinceEpoch())
                                                  .arg(info.metadataChangeTime().toMSecsSinceEpoch())
                                            : QStringLiteral("none");
    if (signature == tokenSignature)
        return false;
    const bool first = tokenSignature.isEmpty();
    tokenSignature = signature;
    QString value;
    QFile file(options.tokenFile);
    if (file.open(QIODevice::ReadOnly))
        value = QString::fromUtf8(file.read(64 * 1024)).trimmed();
    if (value == token && !first)
        return false;
    token = value;
    service.setToken(token);
    removed = false;
    NetLog::line(token.isEmpty() ? QStringLiteral("没有登录凭据，等 tarnel 登录") : QStringLiteral("读到了新的登录凭据"));
    if (token.isEmpty()) {
        siteOk = false;
        siteError = QStringLiteral("还没登录账号");
    }
    return !token.isEmpty();
}
