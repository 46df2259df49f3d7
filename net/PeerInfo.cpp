#include "PeerInfo.h"

#include "Identity.h"
#include "SelfRecord.h"
#include "state/Json.h"

#include <QJsonArray>
#include <QRegularExpression>

std::optional<PeerInfo> PeerInfo::fromService(const QJsonObject& o)
{
    static const QRegularExpression idPattern(QStringLiteral("^[A-Za-z0-9._-]+$"));
    PeerInfo p;
    p.id = Json::string(o, QStringLiteral("id"));
    p.name = Json::string(o, QStringLiteral("name"));
    p.alias = Json::string(o, QStringLiteral("alias"));
    p.sshUser = Json::string(o, QStringLiteral("sshUser"));
    p.sshPubKey = Json::string(o, QStringLiteral("sshPubKey"));
    if (!idPattern.match(p.id).hasMatch() || !SelfRecord::validAlias(p.alias) || p.sshUser.isEmpty() ||
        p.sshPubKey.isEmpty())
        return std::nullopt;
    p.hostPubKey = Json::string(o, QStringLiteral("hostPubKey"));
    p.model = Json::string(o, QStringLiteral("model"));
    p.osVersion = Json::string(o, QStringLiteral("osVersion"));
    p.appBuild = Json::integer(o, QStringLiteral("appBuild"), 0);
    p.remoteAccess = Json::boolean(o, QStringLiteral("remoteAccess"), false);
    p.online = Json::boolean(o, QStringLiteral("online"), false);
    if (const auto seen = Json::optDate(o, QStringLiteral("lastSeen")))
        p.lastSeen = seen->toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    p.version = Json::string(o, QStringLiteral("version"));
    p.certSha256 = Json::string(o, QStringLiteral("certSha256"));
    for (const QJsonValue& item : o.value(QStringLiteral("endpoints")).toArray()) {
        const QHostAddress address(item.toObject().value(QStringLiteral("host")).toString());
        const int port = item.toObject().value(QStringLiteral("port")).toInt();
        if (!address.isNull() && port > 0 && port < 65536)
            p.endpoints.append({address, port});
    }
    return p;
}

bool PeerInfo::reachable() const { return online && Identity::validFingerprint(certSha256); }
