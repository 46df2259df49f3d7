#include "account/PingReply.h"

#include "account/ReplyFields.h"

PingReply PingReply::decode(const QJsonObject& o)
{
    PingReply reply;
    reply.account = Json::requireString(o, QStringLiteral("account"));
    reply.displayName = ReplyFields::string(o, QStringLiteral("displayName"));
    reply.role = ReplyFields::string(o, QStringLiteral("role"));
    if (auto update = ReplyFields::object(o, QStringLiteral("update")))
        reply.update = UpdateInfo::decode(*update);
    return reply;
}
