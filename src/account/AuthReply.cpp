#include "account/AuthReply.h"

#include "account/ReplyFields.h"

AuthReply AuthReply::decode(const QJsonObject& o)
{
    AuthReply reply;
    reply.token = ReplyFields::string(o, QStringLiteral("token"));
    reply.username = Json::requireString(o, QStringLiteral("username"));
    reply.displayName = Json::requireString(o, QStringLiteral("displayName"));
    reply.role = Json::requireString(o, QStringLiteral("role"));
    reply.status = Json::requireString(o, QStringLiteral("status"));
    return reply;
}
