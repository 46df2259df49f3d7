#include "account/QXServer.h"

#include "account/MachineInfo.h"
#include "account/ReplyFields.h"
#include "state/AppInfo.h"
#include "state/Log.h"
#include "state/Text.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QJsonDocument>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPromise>
#include <QThread>
#include <QTimer>
#include <QUrlQuery>
#include <atomic>
#include <functional>

namespace {

const char* const offlineMessage = "连不上 tarnel 服务器，请检查本机网络后再试";

struct BaseURLs {
    QMutex mutex;
    QUrl primary;
    QUrl legacy;
};

// The compiled-in address; a build for the tests also takes a usable one from the environment.
QUrl configuredURL([[maybe_unused]] const char* variable, const char* compiled)
{
#if TARNEL_URLS_FROM_ENVIRONMENT
    const QString fromEnvironment = qEnvironmentVariable(variable);
    if (!fromEnvironment.isEmpty()) {
        const QUrl url(fromEnvironment, QUrl::StrictMode);
        if (url.isValid() && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"))
            && !url.host().isEmpty())
            return url;
        qWarning("%s is not an http(s) address, using %s", variable, compiled);
    }
#endif
    return QUrl(QString::fromUtf8(compiled));
}

BaseURLs& baseURLs()
{
    static BaseURLs urls{{}, configuredURL("TARNEL_SERVICE_URL", TARNEL_SERVICE_URL),
                         configuredURL("TARNEL_LEGACY_SERVICE_URL", TARNEL_LEGACY_SERVICE_URL)};
    return urls;
}

std::atomic<bool> testChannel{false};

const QByteArray jsonType = "application/json";

// The network layer's own errors (connection, time-out, TLS, abort) carry codes below 100; every HTTP
// status, 4xx and 5xx included, maps to codes above. A status with such an error means the transfer
// was cut after the headers: no usable reply.
bool isTransportError(QNetworkReply::NetworkError error) { return error > 0 && error < 100; }

using Completion = std::function<void(const QXServer::Exchange&)>;

void perform(const QXServer::Request& request, const Completion& done)
{
    QNetworkRequest netRequest(request.url);
    netRequest.setRawHeader("User-Agent", QXServer::userAgent());
    for (const auto& [name, value] : request.headers)
        netRequest.setRawHeader(name, value);
    netRequest.setTransferTimeout(request.timeoutMs);
    netRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    netRequest.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    netRequest.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    netRequest.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);

    // Without a length a body-less POST leaves the server waiting for a body that never comes.
    if (request.body.isEmpty() && request.method != "GET" && request.method != "HEAD")
        netRequest.setHeader(QNetworkRequest::ContentLengthHeader, 0);

    QNetworkReply* reply = request.body.isEmpty()
        ? QXServer::manager()->sendCustomRequest(netRequest, request.method)
        : QXServer::manager()->sendCustomRequest(netRequest, request.method, request.body);
    QTimer::singleShot(QXServer::wholeTransferCapMs, reply, [reply] { reply->abort(); });
    auto tlsFailed = std::make_shared<bool>(false);
    QObject::connect(reply, &QNetworkReply::sslErrors, reply, [tlsFailed] { *tlsFailed = true; });
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, done, tlsFailed, url = request.url] {
        QXServer::Exchange exchange;
        exchange.url = url;
        exchange.tlsFailed = *tlsFailed || reply->error() == QNetworkReply::SslHandshakeFailedError;
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        exchange.replied = status.isValid() && !isTransportError(reply->error());
        if (exchange.replied) {
            exchange.status = status.toInt();
            exchange.body = reply->readAll();
            if (const QByteArray service = reply->rawHeader("X-Tarnel-Service"); !service.isEmpty())
                exchange.service = QString::fromLatin1(service.left(64));
        } else {
            exchange.errorText = reply->errorString();
            exchange.refused = reply->error() == QNetworkReply::ConnectionRefusedError;
        }
        reply->deleteLater();
        done(exchange);
    });
}

} // namespace

QUrl QXServer::defaultURL()
{
    BaseURLs& urls = baseURLs();
    QMutexLocker lock(&urls.mutex);
    return urls.primary;
}

QUrl QXServer::legacyURL()
{
    BaseURLs& urls = baseURLs();
    QMutexLocker lock(&urls.mutex);
    return urls.legacy;
}

void QXServer::useURLs(const QUrl& primary, const QUrl& legacy)
{
    BaseURLs& urls = baseURLs();
    QMutexLocker lock(&urls.mutex);
    urls.primary = primary;
    urls.legacy = legacy;
}

bool QXServer::testChannelOptIn() { return testChannel.load(); }

void QXServer::setTestChannelOptIn(bool on) { testChannel.store(on); }

QString QXServer::channel() { return testChannelOptIn() ? QStringLiteral("test") : QStringLiteral("stable"); }

QByteArray QXServer::userAgent()
{
    static const QByteArray agent = [] {
        const AppInfo& app = AppInfo::current();
        return QStringLiteral("tarnel/%1 (%2)").arg(app.version, app.build).toUtf8();
    }();
    return agent;
}

QUrl QXServer::endpoint(const QString& path)
{
    QUrl url = defaultURL();
    QString base = url.path(QUrl::FullyEncoded);
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    url.setPath(base + path, QUrl::StrictMode);
    return url;
}

QXServer::Request QXServer::makeRequest(const QByteArray& method, const QString& path,
                                        const std::optional<QJsonObject>& json,
                                        const std::optional<QString>& token)
{
    Request request;
    request.method = method;
    request.url = endpoint(path);
    if (json) {
        request.headers.append({"Content-Type", jsonType});
        request.body = QJsonDocument(*json).toJson(QJsonDocument::Compact);
    }
    if (token)
        request.headers.append({"Authorization", "Bearer " + token->toUtf8()});
    return request;
}

QXServer::Request QXServer::loginRequest(const QString& username, const QString& password)
{
    return makeRequest("POST", QStringLiteral("api/login"),
                       QJsonObject{{QStringLiteral("username"), trimBlanks(username)},
                                   {QStringLiteral("password"), password},
                                   {QStringLiteral("client"), QStringLiteral("app")}});
}

QXServer::Request QXServer::registerRequest(const QString& username, const QString& password,
                                            const QString& displayName, const QString& invite)
{
    return makeRequest("POST", QStringLiteral("api/register"),
                       QJsonObject{{QStringLiteral("username"), trimBlanks(username)},
                                   {QStringLiteral("password"), password},
                                   {QStringLiteral("displayName"), trimBlanks(displayName)},
                                   {QStringLiteral("invite"), trimBlanks(invite)},
                                   {QStringLiteral("client"), QStringLiteral("app")}});
}

QXServer::Request QXServer::updateRequest(qint64 build)
{
    Request request = makeRequest("GET", QStringLiteral("api/update"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("channel"), channel());
    query.addQueryItem(QStringLiteral("build"), QString::number(build));
    request.url.setQuery(query);
    return request;
}

QXServer::Request QXServer::feedbackRequest(const QString& token, const QString& boundary, const QByteArray& body)
{
    Request request = makeRequest("POST", QStringLiteral("api/feedback"), std::nullopt, token);
    request.headers.append({"Content-Type", "multipart/form-data; boundary=" + boundary.toUtf8()});
    request.body = body;
    request.timeoutMs = 120000;
    return request;
}

QJsonObject QXServer::checkInBody(int servers, int shots)
{
    const AppInfo& app = AppInfo::current();
    return QJsonObject{{QStringLiteral("version"), app.version},
                       {QStringLiteral("build"), double(app.buildNumber())},
                       {QStringLiteral("channel"), channel()},
                       {QStringLiteral("os"), MachineInfo::system()},
                       {QStringLiteral("model"), MachineInfo::model()},
                       {QStringLiteral("servers"), servers},
                       {QStringLiteral("shots"), shots}};
}

std::optional<QString> QXServer::deviceRemovalPath(const QString& deviceId)
{
    // Percent-encoding keeps "/" and "?" inside the segment, but "." and ".." are unreserved and would
    // still walk the path up to another endpoint.
    if (deviceId.isEmpty() || deviceId == QLatin1String(".") || deviceId == QLatin1String(".."))
        return std::nullopt;
    return QStringLiteral("api/device/%1/remove").arg(QString::fromLatin1(QUrl::toPercentEncoding(deviceId)));
}

QFuture<QXServer::Result<OKReply>> QXServer::removeDevice(const QString& deviceId, const QString& token)
{
    const std::optional<QString> path = deviceRemovalPath(deviceId);
    if (!path)
        return QtFuture::makeReadyFuture(Result<OKReply>{std::nullopt, invalidDevice(), std::nullopt});
    return request<OKReply>("POST", *path, std::nullopt, token);
}

std::optional<QXServer::Failure> QXServer::failureOf(const Exchange& exchange)
{
    if (!exchange.replied)
        return unreachable(exchange.url, exchange.refused || exchange.tlsFailed);
    const int status = exchange.status;
    if (status >= 200 && status <= 299)
        return std::nullopt;

    // The error body is read like a reply record: a mistyped key makes it count as no body at all.
    std::optional<QString> error;
    std::optional<QString> account;
    try {
        const QJsonObject body = Json::decodeObject(exchange.body);
        error = ReplyFields::string(body, QStringLiteral("error"));
        account = ReplyFields::string(body, QStringLiteral("account"));
    } catch (const JsonError&) {
        error.reset();
        account.reset();
    }
    // An empty text would show the user a blank message.
    if (error && error->trimmed().isEmpty())
        error.reset();
    const QString message = error.value_or(QStringLiteral("服务器出错（%1），请稍后再试").arg(status));
    return Failure{message, account, status, status == 0 || status > 499};
}

QXServer::Failure QXServer::undecodable(int status)
{
    return Failure{QStringLiteral("服务器返回的内容看不懂，请更新 tarnel 后再试"), std::nullopt, status, false};
}

QXServer::Failure QXServer::unreachable(const QUrl& tried, bool refused)
{
    const QString host = tried.host();
    const QHostAddress address(host);
    const bool local = address.isNull() ? host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
                                        : address.isLoopback();
    if (!local)
        return Failure{QString::fromUtf8(offlineMessage), std::nullopt, 0, true};
    const int defaultPort = tried.scheme() == QLatin1String("https") ? 443 : 80;
    const QString where = (address.protocol() == QAbstractSocket::IPv6Protocol ? QStringLiteral("[%1]:%2") : QStringLiteral("%1:%2"))
                              .arg(host).arg(tried.port(defaultPort));
    if (!refused)
        return Failure{QStringLiteral("本机的账号服务（%1）接了连接却没有回话，不是网络的问题：它可能卡住了，请结束它再重新启动"
                                      "（在 tarnel 的源码目录运行 ./scripts/run.sh，或 build/bin/tarnel-accountd serve --listen %1）")
                           .arg(where),
                       std::nullopt, 0, true};
    return Failure{QStringLiteral("本机的账号服务（%1）没有应答，不是网络的问题：请先启动它（在 tarnel 的源码目录运行 "
                                  "./scripts/run.sh，或 build/bin/tarnel-accountd serve --listen %1）")
                       .arg(where),
                   std::nullopt, 0, true};
}

QXServer::Failure QXServer::invalidDevice()
{
    return Failure{QStringLiteral("设备编号不对，没有发出请求"), std::nullopt, 0, false};
}

std::optional<QUrl> QXServer::fallbackURL(const QUrl& url)
{
    if (url.isEmpty() || !url.isValid())
        return std::nullopt;
    if (url.host() != defaultURL().host())
        return std::nullopt;
    const QUrl legacy = legacyURL();
    if (legacy.isEmpty() || !legacy.isValid() || legacy.host().isEmpty())
        return std::nullopt;
    // A password or token goes on only from a secure address to a secure one (certificate checked as
    // always): an unanswered plain port, loopback included, is anyone's to take.
    if (url.scheme() != QLatin1String("https") || legacy.scheme() != QLatin1String("https"))
        return std::nullopt;
    QUrl moved = url;
    moved.setScheme(legacy.scheme());
    moved.setHost(legacy.host());
    moved.setPort(legacy.port());
    if (!moved.isValid())
        return std::nullopt;
    return moved;
}

QFuture<QXServer::Exchange> QXServer::fetch(const Request& request)
{
    auto promise = std::make_shared<QPromise<Exchange>>();
    QFuture<Exchange> future = promise->future();
    promise->start();
    auto finish = [promise](const Exchange& exchange) {
        promise->addResult(exchange);
        promise->finish();
    };
    perform(request, [request, finish](const Exchange& first) {
        // Only an unreachable service is tried at the former address: after a TLS failure the same
        // request (a password, maybe) is not sent anywhere else.
        const std::optional<QUrl> legacy = first.replied || first.tlsFailed ? std::nullopt : fallbackURL(request.url);
        if (!legacy) {
            finish(first);
            return;
        }
        Log::write(QStringLiteral("官网新域名连不上（%1），改用旧域名再试一次").arg(first.errorText));
        Request retry = request;
        retry.url = *legacy;
        perform(retry, finish);
    });
    return future;
}

QNetworkAccessManager* QXServer::manager()
{
    Q_ASSERT(QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread());
    static QNetworkAccessManager* const shared = [] {
        auto* made = new QNetworkAccessManager(QCoreApplication::instance());
        return made;
    }();
    return shared;
}
