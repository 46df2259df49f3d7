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

std::optional<std::string> imageSuffix(const std::string& bytes)
{
    if (bytes.rfind("\x89PNG\r\n\x1a\n", 0) == 0)
        return ".png";
    if (bytes.rfind("\xff\xd8\xff", 0) == 0)
        return ".jpg";
    return std::nullopt;
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

void refuseBusy(httplib::Response& res, int retryAfter)
{
    res.set_header("Retry-After", std::to_string(retryAfter));
    refuse(res, 503, QStringLiteral("服务器很忙，请稍后再试"));
}

void refuseSignIn(httplib::Response& res, bool removedDevice)
{
    if (removedDevice)
        refuse(res, 401, QStringLiteral("这台电脑已经被移出账号，请重新登录"), QStringLiteral("removed"));
    else
        refuse(res, 401, QStringLiteral("登录已失效，请重新登录"), QStringLiteral("invalid"));
}

} // namespace ServiceText
