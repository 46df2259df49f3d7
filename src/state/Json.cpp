#include "state/Json.h"

#include <QJsonDocument>
#include <QTimeZone>
#include <cmath>

namespace Json {

QByteArray encode(const QJsonObject& object) { return QJsonDocument(object).toJson(QJsonDocument::Indented); }

QJsonObject decodeObject(const QByteArray& bytes)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        throw JsonError(QStringLiteral("不是 JSON：%1").arg(error.errorString()));
    if (!doc.isObject())
        throw JsonError(QStringLiteral("不是 JSON 对象"));
    return doc.object();
}

QString dateText(const QDateTime& date)
{
    return date.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

std::optional<QDateTime> parseDate(const QString& text)
{
    QDateTime date = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!date.isValid())
        date = QDateTime::fromString(text, Qt::ISODate);
    // A date without a zone would silently be read as local time: refuse it.
    if (!date.isValid() || date.timeSpec() == Qt::LocalTime)
        return std::nullopt;
    return date;
}

QString uuidText(const QUuid& id) { return id.toString(QUuid::WithoutBraces).toUpper(); }

std::optional<QUuid> parseUuid(const QString& text)
{
    const QUuid id = QUuid::fromString(text);
    if (id.isNull())
        return std::nullopt;
    return id;
}

bool has(const QJsonObject& o, const QString& key)
{
    const auto it = o.constFind(key);
    return it != o.constEnd() && !it->isNull() && !it->isUndefined();
}

QString string(const QJsonObject& o, const QString& key, const QString& fallback)
{
    const QJsonValue v = o.value(key);
    return v.isString() ? v.toString() : fallback;
}

std::optional<QString> optString(const QJsonObject& o, const QString& key)
{
    const QJsonValue v = o.value(key);
    if (!v.isString())
        return std::nullopt;
    return v.toString();
}

static std::optional<qint64> wholeNumber(const QJsonValue& v)
{
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    if (!std::isfinite(d) || d != std::floor(d) || std::fabs(d) > 9.0e15)
        return std::nullopt;
    return qint64(d);
}

qint64 integer(const QJsonObject& o, const QString& key, qint64 fallback)
{
    return wholeNumber(o.value(key)).value_or(fallback);
}

std::optional<qint64> optInteger(const QJsonObject& o, const QString& key) { return wholeNumber(o.value(key)); }

double number(const QJsonObject& o, const QString& key, double fallback)
{
    const QJsonValue v = o.value(key);
    return v.isDouble() ? v.toDouble() : fallback;
}

bool boolean(const QJsonObject& o, const QString& key, bool fallback)
{
    const QJsonValue v = o.value(key);
    return v.isBool() ? v.toBool() : fallback;
}

std::optional<QDateTime> optDate(const QJsonObject& o, const QString& key)
{
    const QJsonValue v = o.value(key);
    if (!v.isString())
        return std::nullopt;
    return parseDate(v.toString());
}

QStringList stringList(const QJsonObject& o, const QString& key)
{
    QStringList list;
    for (const QJsonValue& v : o.value(key).toArray())
        if (v.isString())
            list << v.toString();
    return list;
}

std::optional<QUuid> optUuid(const QJsonObject& o, const QString& key)
{
    const QJsonValue v = o.value(key);
    if (!v.isString())
        return std::nullopt;
    return parseUuid(v.toString());
}

static JsonError missingOrMistyped(const QJsonObject& o, const QString& key, const char* type)
{
    if (!has(o, key))
        return JsonError(QStringLiteral("缺少字段 %1").arg(key));
    return JsonError(QStringLiteral("字段 %1 不是%2").arg(key, QString::fromUtf8(type)));
}

QString requireString(const QJsonObject& o, const QString& key)
{
    const QJsonValue v = o.value(key);
    if (!v.isString())
        throw missingOrMistyped(o, key, "文本");
    return v.toString();
}

qint64 requireInteger(const QJsonObject& o, const QString& key)
{
    if (auto n = wholeNumber(o.value(key)))
        return *n;
    throw missingOrMistyped(o, key, "整数");
}

double requireNumber(const QJsonObject& o, const QString& key)
{
    const QJsonValue v = o.value(key);
    if (!v.isDouble())
        throw missingOrMistyped(o, key, "数字");
    return v.toDouble();
}

bool requireBool(const QJsonObject& o, const QString& key)
{
    const QJsonValue v = o.value(key);
    if (!v.isBool())
        throw missingOrMistyped(o, key, "真假值");
    return v.toBool();
}

QDateTime requireDate(const QJsonObject& o, const QString& key)
{
    if (auto d = optDate(o, key))
        return *d;
    throw missingOrMistyped(o, key, "日期");
}

void put(QJsonObject& o, const QString& key, const std::optional<QString>& value)
{
    if (value)
        o.insert(key, *value);
}

void put(QJsonObject& o, const QString& key, const std::optional<qint64>& value)
{
    if (value)
        o.insert(key, double(*value));
}

void put(QJsonObject& o, const QString& key, const std::optional<QDateTime>& value)
{
    if (value)
        o.insert(key, dateText(*value));
}

QJsonArray array(const QStringList& list) { return QJsonArray::fromStringList(list); }

} // namespace Json
