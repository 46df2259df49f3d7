#include "account/ReplyFields.h"

namespace ReplyFields {

std::optional<QString> string(const QJsonObject& o, const QString& key)
{
    if (!Json::has(o, key))
        return std::nullopt;
    return Json::requireString(o, key);
}

std::optional<qint64> integer(const QJsonObject& o, const QString& key)
{
    if (!Json::has(o, key))
        return std::nullopt;
    return Json::requireInteger(o, key);
}

std::optional<bool> boolean(const QJsonObject& o, const QString& key)
{
    if (!Json::has(o, key))
        return std::nullopt;
    return Json::requireBool(o, key);
}

std::optional<QStringList> stringList(const QJsonObject& o, const QString& key)
{
    if (!Json::has(o, key))
        return std::nullopt;
    const QJsonValue value = o.value(key);
    if (!value.isArray())
        throw JsonError(QStringLiteral("字段 %1 不是文本列表").arg(key));
    QStringList list;
    for (const QJsonValue& item : value.toArray()) {
        if (!item.isString())
            throw JsonError(QStringLiteral("字段 %1 不是文本列表").arg(key));
        list << item.toString();
    }
    return list;
}

std::optional<QJsonObject> object(const QJsonObject& o, const QString& key)
{
    if (!Json::has(o, key))
        return std::nullopt;
    const QJsonValue value = o.value(key);
    if (!value.isObject())
        throw JsonError(QStringLiteral("字段 %1 不是对象").arg(key));
    return value.toObject();
}

} // namespace ReplyFields
