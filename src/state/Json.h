#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>
#include <QUuid>
#include <optional>
#include <stdexcept>

// A record that does not fit its type. Decoders throw it; the file or reply boundary catches it.
struct JsonError : std::runtime_error {
    explicit JsonError(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString text() const { return QString::fromStdString(what()); }
};

// The one JSON layer: how tarnel writes documents, dates and ids, and reads fields leniently (a default
// for a missing or mistyped key) or strictly (JsonError). Null counts as absent.
namespace Json {

// Pretty-printed; QJsonObject keeps keys sorted.
QByteArray encode(const QJsonObject& object);
// Throws JsonError when the text is not a JSON object.
QJsonObject decodeObject(const QByteArray& bytes);

// Dates: "yyyy-MM-ddTHH:mm:ssZ" in UTC; reading also takes fractions and offsets.
QString dateText(const QDateTime& date);
std::optional<QDateTime> parseDate(const QString& text);

// Upper-case UUID without braces, the form used for keys and ids on disk.
QString uuidText(const QUuid& id);
std::optional<QUuid> parseUuid(const QString& text);

bool has(const QJsonObject& o, const QString& key); // present and not null

// Lenient readers.
QString string(const QJsonObject& o, const QString& key, const QString& fallback = {});
std::optional<QString> optString(const QJsonObject& o, const QString& key);
qint64 integer(const QJsonObject& o, const QString& key, qint64 fallback);
std::optional<qint64> optInteger(const QJsonObject& o, const QString& key);
double number(const QJsonObject& o, const QString& key, double fallback);
bool boolean(const QJsonObject& o, const QString& key, bool fallback);
std::optional<QDateTime> optDate(const QJsonObject& o, const QString& key);
QStringList stringList(const QJsonObject& o, const QString& key);
std::optional<QUuid> optUuid(const QJsonObject& o, const QString& key);

// Strict readers.
QString requireString(const QJsonObject& o, const QString& key);
qint64 requireInteger(const QJsonObject& o, const QString& key);
double requireNumber(const QJsonObject& o, const QString& key);
bool requireBool(const QJsonObject& o, const QString& key);
QDateTime requireDate(const QJsonObject& o, const QString& key);

// Writers that leave absent optionals out.
void put(QJsonObject& o, const QString& key, const std::optional<QString>& value);
void put(QJsonObject& o, const QString& key, const std::optional<qint64>& value);
void put(QJsonObject& o, const QString& key, const std::optional<QDateTime>& value);
QJsonArray array(const QStringList& list);

} // namespace Json
