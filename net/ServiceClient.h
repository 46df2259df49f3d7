#pragma once

#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QObject>
#include <QUrl>
#include <functional>

// Calls to the account service's device API with the account token. Talks to the service's address
// and, when that cannot be reached at all, to the former one (both https), staying with whichever
// answered last.
class ServiceClient : public QObject {
    Q_OBJECT
public:
    struct Reply {
        int status = 0;       // HTTP status; 0 when no answer came
        QJsonObject body;
        QString error;        // a text for the user when status is not 200
    };
    using Done = std::function<void(const Reply&)>;

    ServiceClient(const QUrl& primary, const QUrl& fallback, const QString& caFile, QObject* parent = nullptr);

    void setToken(const QString& value) { token = value; }
    bool hasToken() const { return !token.isEmpty(); }
    // POSTs `body` to `path` under the base address; `done` runs on this thread.
    void post(const QString& path, const QJsonObject& body, int timeoutMs, Done done);

private:
    void send(int baseIndex, bool retry, const QString& path, const QByteArray& body, int timeoutMs, Done done);

    QNetworkAccessManager network;
    QList<QUrl> bases;
    int current = 0;
    QString token;
    QString caFile;
};
