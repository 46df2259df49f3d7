#include "account/OKReply.h"

#include "account/ReplyFields.h"

OKReply OKReply::decode(const QJsonObject& o)
{
    OKReply reply;
    reply.ok = ReplyFields::boolean(o, QStringLiteral("ok"));
    reply.id = ReplyFields::integer(o, QStringLiteral("id"));
    return reply;
}
