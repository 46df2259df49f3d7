#include "account/UpdateInfo.h"

#include "account/ReplyFields.h"

UpdateInfo UpdateInfo::decode(const QJsonObject& o)
{
    UpdateInfo info;
    info.available = Json::requireBool(o, QStringLiteral("available"));
    info.version = ReplyFields::string(o, QStringLiteral("version"));
    info.build = ReplyFields::integer(o, QStringLiteral("build"));
    info.date = ReplyFields::string(o, QStringLiteral("date"));
    info.notes = ReplyFields::stringList(o, QStringLiteral("notes"));
    info.url = ReplyFields::string(o, QStringLiteral("url"));
    info.sha256 = ReplyFields::string(o, QStringLiteral("sha256"));
    info.size = ReplyFields::integer(o, QStringLiteral("size"));
    info.minimumSystem = ReplyFields::string(o, QStringLiteral("minimumSystem"));
    return info;
}

QJsonObject UpdateInfo::encode() const
{
    QJsonObject o;
    o.insert(QStringLiteral("available"), available);
    Json::put(o, QStringLiteral("version"), version);
    Json::put(o, QStringLiteral("build"), build);
    Json::put(o, QStringLiteral("date"), date);
    if (notes)
        o.insert(QStringLiteral("notes"), Json::array(*notes));
    Json::put(o, QStringLiteral("url"), url);
    Json::put(o, QStringLiteral("sha256"), sha256);
    Json::put(o, QStringLiteral("size"), size);
    Json::put(o, QStringLiteral("minimumSystem"), minimumSystem);
    return o;
}
