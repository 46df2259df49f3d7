#pragma once

#include "state/Json.h"

// Optional fields of the account service's replies: missing or null is absent, any other value must have
// the right type or the whole reply is refused (JsonError), the way the service's records are decoded.
namespace ReplyFields {

std::optional<QString> string(const QJsonObject& o, const QString& key);
std::optional<qint64> integer(const QJsonObject& o, const QString& key);
std::optional<bool> boolean(const QJsonObject& o, const QString& key);
std::optional<QStringList> stringList(const QJsonObject& o, const QString& key);
std::optional<QJsonObject> object(const QJsonObject& o, const QString& key);

} // namespace ReplyFields
