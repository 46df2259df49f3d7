#include "account/AccountRecord.h"

#include "account/ReplyFields.h"
#include "state/AtomicFile.h"
#include "state/Paths.h"
#include "state/Store.h"

#include <QFile>
#include <QJsonDocument>

AccountRecord AccountRecord::decode(const QJsonObject& o)
{
    AccountRecord record;
    record.username = Json::requireString(o, QStringLiteral("username"));
    record.displayName = Json::requireString(o, QStringLiteral("displayName"));
    record.token = Json::requireString(o, QStringLiteral("token"));
    record.role = ReplyFields::string(o, QStringLiteral("role"));
    record.service = ReplyFields::string(o, QStringLiteral("service"));
    return record;
}

QJsonObject AccountRecord::encode() const
{
    QJsonObject o;
    o.insert(QStringLiteral("username"), username);
    o.insert(QStringLiteral("displayName"), displayName);
    o.insert(QStringLiteral("token"), token);
    Json::put(o, QStringLiteral("role"), role);
    Json::put(o, QStringLiteral("service"), service);
    return o;
}

QString AccountRecord::filePath() { return Paths::inData(QStringLiteral("account.json")); }

std::optional<AccountRecord> AccountRecord::load()
{
    // Read like every state file: a broken one is kept aside and logged, so the next sign-in cannot
    // overwrite it unseen.
    return Store(Paths::dataDirectory()).decode<AccountRecord>(QStringLiteral("account.json"), &AccountRecord::decode);
}

Outcome<> AccountRecord::save() const
{
    const QByteArray bytes = QJsonDocument(encode()).toJson(QJsonDocument::Compact);
    Paths::ensure(Paths::dataDirectory());
    return AtomicFile::write(filePath(), bytes, 0600);
}

void AccountRecord::remove() { QFile::remove(filePath()); }
