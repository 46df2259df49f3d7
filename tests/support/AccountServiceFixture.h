#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <memory>

class QNetworkAccessManager;

// A real tarnel-accountd on a loopback port with its own temporary database, plus its admin command line
// and (with test hooks) scripted replies and the log of received requests. One instance per service;
// stopped when destroyed.
class AccountServiceFixture {
public:
    struct Options {
        bool testHooks = true;
        bool tls = false; // a fresh self-signed certificate for 127.0.0.1
        QString host = QStringLiteral("127.0.0.1"); // the address it listens on (plain HTTP only otherwise)
        int port = 0;                               // 0: any free port
        QStringList arguments;  // more `serve` options
        QString databaseFolder; // a folder under the temporary one for the database, made by the service
    };

    AccountServiceFixture() : AccountServiceFixture(Options{}) {}
    explicit AccountServiceFixture(Options options);
    ~AccountServiceFixture();

    // Starts the service and waits until it listens; false with error() when it could not.
    bool start();
    void stop();
    QString error() const { return problem; }

    int port() const { return listenPort; }
    qint64 pid() const { return process.processId(); }
    QUrl url() const; // "http(s)://127.0.0.1:<port>/"
    QString databasePath() const;
    QString certificatePath() const { return dir.filePath(QStringLiteral("cert.pem")); }
    // The service program: the tests' build with hooks when they are asked for, else the shipped one.
    QString binary() const;
    static QString shippedBinary();
    // A loopback port nobody listens on, and its "http://127.0.0.1:<port>/".
    static int closedPort();
    static QUrl closedURL();

    // The admin command line on this database.
    struct Output {
        int status = -1;
        QString out;
        QString err;
    };
    Output admin(const QStringList& args, const QByteArray& input = {}) const;
    QString createInvite(const QStringList& extra = {}) const; // the new code, empty on failure

    // Calls to the service apart from any client under test.
    struct Reply {
        int status = 0;
        QByteArray body;
        QJsonObject json() const;
        QByteArray header(const QByteArray& name) const;
        QList<QPair<QByteArray, QByteArray>> headers;
    };
    Reply call(const QByteArray& method, const QString& path, const QByteArray& body = {},
               const QList<QPair<QByteArray, QByteArray>>& headers = {}) const;
    Reply post(const QString& path, const QJsonObject& body, const QString& token = {}) const;
    // Raw bytes over plain HTTP from a loopback source address of choice (127.0.0.2, ...), the reply read
    // until the service closes the connection or `waitMs` pass (status 0 when nothing came).
    Reply raw(const QByteArray& request, const QString& from = QStringLiteral("127.0.0.1"), int waitMs = 10000) const;
    // Several raw() requests at once, each with its source address; the replies in the same order.
    QList<Reply> rawAll(const QList<QPair<QByteArray, QString>>& requests, int waitMs = 10000) const;
    // A whole JSON POST for raw().
    static QByteArray rawPost(const QString& path, const QJsonObject& body, const QString& token = {});
    // Registers an account through a new invitation; returns its token (empty on failure).
    QString signUp(const QString& username, const QString& password, const QString& displayName = {}) const;
    // A fresh sign-in of an existing account, as each machine makes its own; its token (empty on failure).
    QString signIn(const QString& username, const QString& password) const;

    // Test hooks: the next reply (or `times` replies) to a path, e.g. {"status":502} or {"delayMs":3000}
    // or {"drop":true}; and every request received so far.
    void script(const QString& path, const QJsonObject& reply) const;
    QJsonArray requests() const;
    // The requests received since the first `from`, whose path starts with `prefix`.
    QList<QJsonObject> requestsTo(const QString& prefix, qsizetype from = 0) const;
    void resetHooks() const;

private:
    bool makeCertificate();

    Options options;
    QTemporaryDir dir;
    QProcess process;
    std::unique_ptr<QNetworkAccessManager> network;
    int listenPort = 0;
    QString problem;
};
