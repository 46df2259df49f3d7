#pragma once

#include "account/OKReply.h"
#include "state/Json.h"

#include <QByteArray>
#include <QFuture>
#include <QList>
#include <QPair>
#include <QUrl>
#include <optional>

class QNetworkAccessManager;

// The one client of the account web service. Every call goes through send(): it performs the request,
// falls back once to the former service when the account service cannot be reached at all, and turns
// every outcome into a decoded reply record or a Failure carrying a ready message. Use from the main
// thread only; futures complete on the main thread.
class QXServer {
public:
    struct Failure {
        QString message;
        std::optional<QString> account; // the account-state word of an error reply
        int status = 0;                 // 0: there was no HTTP reply
        bool offline = false;           // status 0 or above 499
    };

    template <typename Reply>
    struct Result {
        std::optional<Reply> reply;
        Failure failure; // meaningful only without a reply
        std::optional<QString> service; // the id of the service that replied, when it names itself
        bool ok() const { return reply.has_value(); }
    };

    // A request ready to send. Copied unchanged (but for the address) for the fallback.
    struct Request {
        QByteArray method = "GET";
        QUrl url;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        int timeoutMs = 60000; // longest wait without data
    };

    // What the transport produced: an HTTP reply of any status, or none.
    struct Exchange {
        bool replied = false;
        int status = 0;
        QByteArray body;
        QString errorText; // the transport error, when there was no reply
        bool tlsFailed = false; // the secure connection failed (a certificate refused, a broken handshake)
        bool refused = false; // nothing listened at the address
        QUrl url; // where the request went (the former service's address after the fallback)
        std::optional<QString> service; // the id the replying service gives itself
    };

    static QUrl defaultURL();
    static QUrl legacyURL();
    // Replaces both base URLs for the rest of the process (tests, a self-run service).
    static void useURLs(const QUrl& primary, const QUrl& legacy);

    static bool testChannelOptIn();
    static void setTestChannelOptIn(bool on);
    static QString channel(); // "test" or "stable"

    static QByteArray userAgent();
    static constexpr int wholeTransferCapMs = 120000;

    // defaultURL with the path appended as path components; `path` is already percent-encoded.
    static QUrl endpoint(const QString& path);
    // A POST/GET request to the endpoint, 60 s, optionally with a JSON body and the bearer token.
    static Request makeRequest(const QByteArray& method, const QString& path,
                               const std::optional<QJsonObject>& json = std::nullopt,
                               const std::optional<QString>& token = std::nullopt);

    // The requests of the API whose values this client fixes.
    static Request loginRequest(const QString& username, const QString& password);
    static Request registerRequest(const QString& username, const QString& password,
                                   const QString& displayName, const QString& invite);
    static Request updateRequest(qint64 build);
    static Request feedbackRequest(const QString& token, const QString& boundary, const QByteArray& body);
    static QJsonObject checkInBody(int servers, int shots);
    // "api/device/<id>/remove" with the id as one encoded segment; none for an id that cannot be one.
    static std::optional<QString> deviceRemovalPath(const QString& deviceId);

    template <typename Reply>
    static QFuture<Result<Reply>> request(const QByteArray& method, const QString& path,
                                          const std::optional<QJsonObject>& json,
                                          const std::optional<QString>& token)
    {
        return send<Reply>(makeRequest(method, path, json, token));
    }

    template <typename Reply>
    static QFuture<Result<Reply>> send(const Request& request)
    {
        return fetch(request).then([](const Exchange& exchange) { return interpret<Reply>(exchange); });
    }

    template <typename Reply>
    static Result<Reply> interpret(const Exchange& exchange)
    {
        if (auto failure = failureOf(exchange))
            return {std::nullopt, *failure, exchange.service};
        try {
            return {Reply::decode(Json::decodeObject(exchange.body)), {}, exchange.service};
        } catch (const JsonError&) {
            return {std::nullopt, undecodable(exchange.status), exchange.service};
        }
    }

    // POST api/device/<id>/remove with the token. An id that is no single path segment (empty, "." or "..")
    // is refused without sending anything.
    static QFuture<Result<OKReply>> removeDevice(const QString& deviceId, const QString& token);

    // The failure for a transport error or a non-2xx reply; none for a 2xx reply.
    static std::optional<Failure> failureOf(const Exchange& exchange);
    static Failure undecodable(int status);
    // No reply from `tried`. A service on this machine is not a network problem: say how to start it when
    // nothing listened, or that it took the connection and never answered.
    static Failure unreachable(const QUrl& tried, bool refused = true);
    static Failure invalidDevice();

    // The transport step with the single fallback to the former service.
    static QFuture<Exchange> fetch(const Request& request);
    // The former service's address for a request to the account service; none when it does not apply.
    static std::optional<QUrl> fallbackURL(const QUrl& url);

    static QNetworkAccessManager* manager();
};
