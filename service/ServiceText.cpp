#include "ServiceText.h"

#include <QDateTime>
#include <QJsonDocument>
#include <httplib.h>

namespace ServiceText {

int64_t now() { return QDateTime::currentSecsSinceEpoch(); }

std::string isoTime(int64_t seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(Qt::ISODate).toStdString();
}

void reply(httplib::Response& res, int status, const QJsonObject& body)
{
    res.status = status;
    res.set_content(QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(), "application/json; charset=utf-8");
}

void refuse(httplib::Response& res, int status, const QString& error, const std::optional<QString>& account)
{
    QJsonObject body{{QStringLiteral("error"), error}};
    if (account)
        body.insert(QStringLiteral("account"), *account);
    reply(res, status, body);
}

} // namespace ServiceText
