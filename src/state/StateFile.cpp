#include "state/StateFile.h"

#include "state/Json.h"

#include <QJsonArray>

StateFile StateFile::fromJson(const QJsonObject& o)
{
    StateFile f;
    f.version = int(Json::integer(o, QStringLiteral("version"), 1));
    for (const QJsonValue& v : o.value(QStringLiteral("servers")).toArray())
        if (v.isObject())
            f.servers << Server::fromJson(v.toObject());
    for (const QJsonValue& v : o.value(QStringLiteral("shots")).toArray())
        if (v.isObject())
            f.shots << Shot::fromJson(v.toObject());
    f.lastHash = Json::optString(o, QStringLiteral("lastHash"));
    f.selectedShot = Json::optString(o, QStringLiteral("selectedShot"));
    f.linkSeenDevices = Json::stringList(o, QStringLiteral("linkSeenDevices"));
    f.linkWantedTunnels = Json::stringList(o, QStringLiteral("linkWantedTunnels"));
    return f;
}

QJsonObject StateFile::toJson() const
{
    QJsonArray serverArray;
    for (const Server& s : servers)
        serverArray << s.toJson();
    QJsonArray shotArray;
    for (const Shot& s : shots)
        shotArray << s.toJson();
    QJsonObject o{{QStringLiteral("version"), version},
                  {QStringLiteral("servers"), serverArray},
                  {QStringLiteral("shots"), shotArray},
                  {QStringLiteral("linkSeenDevices"), Json::array(linkSeenDevices)},
                  {QStringLiteral("linkWantedTunnels"), Json::array(linkWantedTunnels)}};
    Json::put(o, QStringLiteral("lastHash"), lastHash);
    Json::put(o, QStringLiteral("selectedShot"), selectedShot);
    return o;
}

Seq Seq::fromJson(const QJsonObject& o)
{
    Seq s;
    s.date = Json::requireString(o, QStringLiteral("date"));
    s.n = Json::requireInteger(o, QStringLiteral("n"));
    return s;
}

QJsonObject Seq::toJson() const
{
    return QJsonObject{{QStringLiteral("date"), date}, {QStringLiteral("n"), double(n)}};
}
