#include "link/LinkStatus.h"

#include "state/Json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cmath>

namespace {

std::optional<QJsonObject> nestedObject(const QJsonObject& o, const QString& key)
{
    const QJsonValue value = o.value(key);
    if (!value.isObject())
        return std::nullopt;
    return value.toObject();
}

// One non-object element empties the whole list.
QList<PeerDevice> peerList(const QJsonObject& o)
{
    const QJsonValue value = o.value(QStringLiteral("peers"));
    if (!value.isArray())
        return {};
    QList<PeerDevice> peers;
    for (const QJsonValue& item : value.toArray()) {
        if (!item.isObject())
            return {};
        peers << PeerDevice::decode(item.toObject());
    }
    return peers;
}

// Whole milliseconds, halves away from zero; empty when the value has no whole-number form.
std::optional<qint64> wholeMs(double ms)
{
    const double rounded = std::round(ms);
    if (!std::isfinite(rounded) || std::fabs(rounded) >= 9.2e18)
        return std::nullopt;
    return qint64(rounded);
}

} // namespace

LinkStatus LinkStatus::decode(const QJsonObject& o)
{
    LinkStatus s;
    s.state = Json::string(o, QStringLiteral("state"));
    s.path = Json::string(o, QStringLiteral("path"));
    s.peerPath = Json::string(o, QStringLiteral("peerPath"));
    s.iceRttMs = Json::number(o, QStringLiteral("iceRttMs"), 0);
    s.appRttMs = Json::number(o, QStringLiteral("appRttMs"), 0);
    s.connectMs = Json::number(o, QStringLiteral("connectMs"), 0);
    s.restarts = Json::integer(o, QStringLiteral("restarts"), 0);
    s.sinceSec = Json::number(o, QStringLiteral("sinceSec"), 0);
    s.trigger = Json::string(o, QStringLiteral("trigger"));
    s.peerAllows = Json::boolean(o, QStringLiteral("peerAllows"), false);
    s.peerVersion = Json::string(o, QStringLiteral("peerVersion"));
    s.tunnels = Json::integer(o, QStringLiteral("tunnels"), 0);
    s.inboundTunnels = Json::integer(o, QStringLiteral("inboundTunnels"), 0);
    s.outboundTunnels = Json::integer(o, QStringLiteral("outboundTunnels"), 0);
    return s;
}

QJsonObject LinkStatus::toJson() const
{
    return {
        {QStringLiteral("state"), state},
        {QStringLiteral("path"), path},
        {QStringLiteral("peerPath"), peerPath},
        {QStringLiteral("iceRttMs"), iceRttMs},
        {QStringLiteral("appRttMs"), appRttMs},
        {QStringLiteral("connectMs"), connectMs},
        {QStringLiteral("restarts"), restarts},
        {QStringLiteral("sinceSec"), sinceSec},
        {QStringLiteral("trigger"), trigger},
        {QStringLiteral("peerAllows"), peerAllows},
        {QStringLiteral("peerVersion"), peerVersion},
        {QStringLiteral("tunnels"), tunnels},
        {QStringLiteral("inboundTunnels"), inboundTunnels},
        {QStringLiteral("outboundTunnels"), outboundTunnels},
    };
}

bool LinkStatus::relayed() const
{
    const QString relay = QStringLiteral("relay");
    return path == relay || peerPath == relay;
}

PeerDevice PeerDevice::decode(const QJsonObject& o)
{
    PeerDevice p;
    p.id = Json::string(o, QStringLiteral("id"));
    p.name = Json::string(o, QStringLiteral("name"));
    p.alias = Json::string(o, QStringLiteral("alias"));
    p.sshUser = Json::string(o, QStringLiteral("sshUser"));
    p.sshPubKey = Json::string(o, QStringLiteral("sshPubKey"));
    p.hostPubKey = Json::string(o, QStringLiteral("hostPubKey"));
    p.model = Json::string(o, QStringLiteral("model"));
    p.osVersion = Json::string(o, QStringLiteral("osVersion"));
    p.appBuild = Json::integer(o, QStringLiteral("appBuild"), 0);
    p.remoteAccess = Json::boolean(o, QStringLiteral("remoteAccess"), false);
    p.online = Json::boolean(o, QStringLiteral("online"), false);
    p.lastSeen = Json::string(o, QStringLiteral("lastSeen"));
    if (const auto link = nestedObject(o, QStringLiteral("link")))
        p.link = LinkStatus::decode(*link);
    return p;
}

QJsonObject PeerDevice::toJson() const
{
    QJsonObject o{
        {QStringLiteral("id"), id},
        {QStringLiteral("name"), name},
        {QStringLiteral("alias"), alias},
        {QStringLiteral("sshUser"), sshUser},
        {QStringLiteral("sshPubKey"), sshPubKey},
        {QStringLiteral("hostPubKey"), hostPubKey},
        {QStringLiteral("model"), model},
        {QStringLiteral("osVersion"), osVersion},
        {QStringLiteral("appBuild"), appBuild},
        {QStringLiteral("remoteAccess"), remoteAccess},
        {QStringLiteral("online"), online},
        {QStringLiteral("lastSeen"), lastSeen},
    };
    if (link)
        o.insert(QStringLiteral("link"), link->toJson());
    return o;
}

QString PeerDevice::pathLabel() const
{
    if (!online)
        return QStringLiteral("离线");
    if (!link)
        return QStringLiteral("在线 · 还没建连");
    const QString& state = link->state;
    if (state == QLatin1String("connected")) {
        const QString word = link->relayed() ? QStringLiteral("中转") : QStringLiteral("直连");
        const double rtt = link->appRttMs > 0 ? link->appRttMs : link->iceRttMs;
        const std::optional<qint64> ms = rtt > 0 ? wholeMs(rtt) : std::nullopt;
        if (!ms)
            return word;
        return word + QStringLiteral(" · ") + QString::number(*ms) + QStringLiteral(" ms");
    }
    if (state == QLatin1String("connecting") || state == QLatin1String("new") || state == QLatin1String("checking"))
        return QStringLiteral("正在连接…");
    if (state == QLatin1String("disconnected"))
        return QStringLiteral("连接中断，正在重连…");
    return QStringLiteral("在线 · ") + state;
}

QString PeerDevice::shownName() const { return name.isEmpty() ? alias : name; }

QString PeerDevice::plain(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text)
        if (c.category() != QChar::Other_Control && c != QChar::LineSeparator && c != QChar::ParagraphSeparator)
            out += c;
    return out;
}

SelfDevice SelfDevice::decode(const QJsonObject& o)
{
    SelfDevice d;
    d.id = Json::string(o, QStringLiteral("id"));
    d.name = Json::string(o, QStringLiteral("name"));
    d.alias = Json::string(o, QStringLiteral("alias"));
    d.createdAt = Json::string(o, QStringLiteral("createdAt"));
    return d;
}

QJsonObject SelfDevice::toJson() const
{
    return {
        {QStringLiteral("id"), id},
        {QStringLiteral("name"), name},
        {QStringLiteral("alias"), alias},
        {QStringLiteral("createdAt"), createdAt},
    };
}

SiteStatus SiteStatus::decode(const QJsonObject& o)
{
    SiteStatus s;
    s.ok = Json::boolean(o, QStringLiteral("ok"), false);
    s.lastError = Json::string(o, QStringLiteral("lastError"));
    s.lastOkAt = Json::string(o, QStringLiteral("lastOkAt"));
    return s;
}

QJsonObject SiteStatus::toJson() const
{
    return {
        {QStringLiteral("ok"), ok},
        {QStringLiteral("lastError"), lastError},
        {QStringLiteral("lastOkAt"), lastOkAt},
    };
}

NodeStatus NodeStatus::decode(const QJsonObject& o)
{
    NodeStatus n;
    n.version = Json::string(o, QStringLiteral("version"));
    n.pid = Json::integer(o, QStringLiteral("pid"), 0);
    n.uptimeSec = Json::number(o, QStringLiteral("uptimeSec"), 0);
    n.allowInbound = Json::boolean(o, QStringLiteral("allowInbound"), false);
    if (const auto device = nestedObject(o, QStringLiteral("device")))
        n.device = SelfDevice::decode(*device);
    if (const auto site = nestedObject(o, QStringLiteral("site")))
        n.site = SiteStatus::decode(*site);
    n.devicesVersion = Json::string(o, QStringLiteral("devicesVersion"));
    n.peers = peerList(o);
    return n;
}

std::optional<NodeStatus> NodeStatus::parse(const QByteArray& bytes)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return decode(doc.object());
}

bool NodeStatus::isDocument(const QJsonObject& o)
{
    static const QStringList keys{
        QStringLiteral("version"), QStringLiteral("pid"),  QStringLiteral("uptimeSec"),
        QStringLiteral("allowInbound"), QStringLiteral("device"), QStringLiteral("site"),
        QStringLiteral("devicesVersion"), QStringLiteral("peers"),
    };
    if (o.contains(QStringLiteral("error")))
        return false;
    for (const QString& key : keys) {
        if (o.contains(key))
            return true;
    }
    return false;
}

QJsonObject NodeStatus::toJson() const
{
    QJsonArray peerArray;
    for (const PeerDevice& peer : peers)
        peerArray.append(peer.toJson());
    QJsonObject o{
        {QStringLiteral("version"), version},
        {QStringLiteral("pid"), pid},
        {QStringLiteral("uptimeSec"), uptimeSec},
        {QStringLiteral("allowInbound"), allowInbound},
        {QStringLiteral("device"), device.toJson()},
        {QStringLiteral("devicesVersion"), devicesVersion},
        {QStringLiteral("peers"), peerArray},
    };
    if (site)
        o.insert(QStringLiteral("site"), site->toJson());
    return o;
}

QByteArray NodeStatus::toLine() const { return QJsonDocument(toJson()).toJson(QJsonDocument::Compact); }

QString SelfDevice::aliasSlug(const QString& name)
{
    QString slug;
    for (const QChar c : name.toLower()) {
        if (c.unicode() < 128 && c.isLetterOrNumber())
            slug += c;
        else if (!slug.endsWith(QLatin1Char('-')))
            slug += QLatin1Char('-');
    }
    while (slug.startsWith(QLatin1Char('-')))
        slug.remove(0, 1);
    while (slug.endsWith(QLatin1Char('-')))
        slug.chop(1);
    if (slug.isEmpty())
        slug = QStringLiteral("mac");
    return QStringLiteral("qx-") + slug.left(24);
}
