#include "ServiceClient.h"

#include <QFile>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QSslConfiguration>

ServiceClient::ServiceClient(const QUrl& primary, const QUrl& fallback, const QString& caFile, QObject* parent)
    : QObject(parent), caFile(caFile)
{
    bases.append(primary);
    // The token goes to the former address only from https to https: an unanswered plain port is
    // anyone's to take.
    const auto secure = [](const QUrl& url) { return url.isValid() && url.scheme() == QLatin1String("https"); };
    if (secure(primary) && secure(fallback) && !fallback.host().isEmpty() && fallback != primary)
        bases.append(fallback);
    network.setAutoDeleteReplies(true);
}

void ServiceClient::post(const QString& path, const QJsonObject& body, int timeoutMs, Done done)
{
    send(current, bases.size() > 1, path, QJsonDocument(body).toJson(QJsonDocument::Compact), timeoutMs,
         std::move(done));
}

void ServiceClient::send(int baseIndex, bool retry, const QString& path, const QByteArray& body, int timeoutMs,
                         Done done)
{
    QNetworkRequest request(bases.at(baseIndex).resolved(QUrl(path)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    request.setTransferTimeout(timeoutMs);
    if (!caFile.isEmpty()) {
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.addCaCertificates(QSslCertificate::fromPath(caFile));
        request.setSslConfiguration(ssl);
    }
    QNetworkReply* reply = network.post(request, body);
    connect(reply, &QNetworkReply::finished, this, [=, this] {
        Reply result;
        result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (result.status == 0 && retry) {
            // Nothing answered: try the other address once.
            return send((baseIndex + 1) % int(bases.size()), false, path, body, timeoutMs, done);
        }
        if (result.status != 0)
            current = baseIndex;
        result.body = QJsonDocument::fromJson(reply->readAll()).object();
        if (result.status == 0)
            result.error = QStringLiteral("连不上账号服务（%1）").arg(reply->errorString());
        else if (result.status != 200)
            result.error = result.body.value(QStringLiteral("error")).toString(
                QStringLiteral("账号服务出错了（HTTP %1）").arg(result.status));
        done(result);
    });
}
