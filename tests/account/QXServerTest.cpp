// The account-service client against the real tarnel-accountd on loopback: every failure message, the
// headers, the single fallback to the former service, time-outs, TLS and device removal.
#include "account/AuthReply.h"
#include "account/QXServer.h"
#include "account/UpdateInfo.h"
#include "support/AccountServiceFixture.h"
#include "support/AwaitFuture.h"
#include "support/TempDataDir.h"

#include <QJsonDocument>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QtTest>

namespace {
const QString offline = QStringLiteral("连不上 tarnel 服务器，请检查本机网络后再试");
// Every unanswered address here is on this machine: no network problem.
const QString localDown = QStringLiteral("本机的账号服务（");

template <typename T>
QXServer::Result<T> wait(QFuture<QXServer::Result<T>> future)
{
    if (auto result = awaitFuture(future, 60000))
        return *result;
    return {std::nullopt, {QStringLiteral("(test) no result in time"), std::nullopt, -1, false}};
}

QByteArray body(const QJsonObject& request) { return QByteArray::fromBase64(request.value("body").toString().toLatin1()); }
QString header(const QJsonObject& request, const char* name)
{
    return request.value("headers").toObject().value(QLatin1String(name)).toString();
}
bool hasHeader(const QJsonObject& request, const char* name)
{
    return request.value("headers").toObject().contains(QLatin1String(name));
}
} // namespace

class QXServerTest : public QObject {
    Q_OBJECT
    TempDataDir data;
    AccountServiceFixture service;
    AccountServiceFixture former;
    AccountServiceFixture secureFormer{{true, true}};

    static QUrl closedSecureURL()
    {
        return QUrl(QStringLiteral("https://127.0.0.1:%1/").arg(AccountServiceFixture::closedPort()));
    }

    // Trusts the services' self-signed certificates while it lives.
    struct TrustTls {
        QSslConfiguration original = QSslConfiguration::defaultConfiguration();
        template <typename... Services>
        explicit TrustTls(const Services&... services)
        {
            QSslConfiguration trusting = original;
            (trusting.addCaCertificates(services.certificatePath()), ...);
            QSslConfiguration::setDefaultConfiguration(trusting);
        }
        ~TrustTls() { QSslConfiguration::setDefaultConfiguration(original); }
    };

    int fallbackLines() const
    {
        int n = 0;
        for (const QString& line : data.logLines())
            n += line.contains(QStringLiteral("官网新域名连不上（")) && line.endsWith(QStringLiteral("），改用旧域名再试一次"));
        return n;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(service.start(), qPrintable(service.error()));
        QVERIFY2(former.start(), qPrintable(former.error()));
        QVERIFY2(secureFormer.start(), qPrintable(secureFormer.error()));
    }

    void init()
    {
        service.resetHooks();
        former.resetHooks();
        secureFormer.resetHooks();
        QXServer::setTestChannelOptIn(false);
        QXServer::useURLs(service.url(), AccountServiceFixture::closedURL());
    }

    void statusesBecomeFailures_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("account");
        QTest::addColumn<bool>("offline");
        const QString unreadable = QStringLiteral("服务器返回的内容看不懂，请更新 tarnel 后再试");
        QTest::newRow("200 empty") << 200 << "" << false << unreadable << "" << false;
        QTest::newRow("200 array") << 200 << "[]" << false << unreadable << "" << false;
        QTest::newRow("200 mistyped id") << 200 << R"({"id":"1"})" << false << unreadable << "" << false;
        QTest::newRow("200 {}") << 200 << "{}" << true << "" << "" << false;
        QTest::newRow("201 ok") << 201 << R"({"ok":true,"id":4})" << true << "" << "" << false;
        QTest::newRow("503 error and word") << 503 << R"({"error":"正在维护","account":"active"})" << false
                                            << "正在维护" << "active" << true;
        QTest::newRow("500 no body") << 500 << "" << false << "服务器出错（500），请稍后再试" << "" << true;
        QTest::newRow("499") << 499 << R"({"error":"客户端关了"})" << false << "客户端关了" << "" << false;
        QTest::newRow("404 html") << 404 << "<html>no</html>" << false << "服务器出错（404），请稍后再试" << "" << false;
        QTest::newRow("403 word only") << 403 << R"({"account":"disabled"})" << false
                                       << "服务器出错（403），请稍后再试" << "disabled" << false;
        QTest::newRow("400 mistyped error") << 400 << R"({"error":5,"account":"invalid"})" << false
                                            << "服务器出错（400），请稍后再试" << "" << false;
        QTest::newRow("400 empty error") << 400 << R"({"error":" ","account":"invalid"})" << false
                                         << "服务器出错（400），请稍后再试" << "invalid" << false;
    }
    void statusesBecomeFailures()
    {
        QFETCH(int, status);
        QFETCH(QString, reply);
        QFETCH(bool, ok);
        QFETCH(QString, message);
        QFETCH(QString, account);
        QFETCH(bool, offline);
        service.script(QStringLiteral("api/diag"), {{"status", status}, {"body", reply}});
        const auto result = wait(QXServer::request<OKReply>("POST", QStringLiteral("api/diag"), QJsonObject{}, QStringLiteral("t")));
        QCOMPARE(result.ok(), ok);
        if (ok)
            return;
        QCOMPARE(result.failure.message, message);
        QCOMPARE(result.failure.account.value_or(QString()), account);
        QCOMPARE(result.failure.status, status);
        QCOMPARE(result.failure.offline, offline);
        QCOMPARE(fallbackLines(), 0); // an answer, even a 5xx, never goes on to the former service
    }

    void headersFollowTheRequest()
    {
        service.script(QStringLiteral("api/diag"), {{"body", "{}"}});
        const QJsonObject report{{"reason", QStringLiteral("启动")}, {"build", 3}};
        QVERIFY(wait(QXServer::request<OKReply>("POST", QStringLiteral("api/diag"), report, QStringLiteral("tok"))).ok());
        service.script(QStringLiteral("api/logout"), {{"body", "{}"}});
        QVERIFY(wait(QXServer::request<OKReply>("POST", QStringLiteral("api/logout"), std::nullopt, QString())).ok());
        QXServer::setTestChannelOptIn(true);
        QVERIFY(wait(QXServer::send<UpdateInfo>(QXServer::updateRequest(7))).ok());

        const QJsonArray seen = service.requests();
        QCOMPARE(seen.size(), 3);
        for (const QJsonValue& request : seen)
            QCOMPARE(header(request.toObject(), "user-agent"), QString::fromUtf8(QXServer::userAgent()));

        const QJsonObject diag = seen[0].toObject();
        QCOMPARE(diag.value("method").toString(), QStringLiteral("POST"));
        QCOMPARE(header(diag, "content-type"), QStringLiteral("application/json"));
        QCOMPARE(header(diag, "authorization"), QStringLiteral("Bearer tok"));
        QCOMPARE(QJsonDocument::fromJson(body(diag)).object(), report);

        // No body, no content type; an empty token still sends the Bearer header.
        const QJsonObject logout = seen[1].toObject();
        QVERIFY(!hasHeader(logout, "content-type"));
        QCOMPARE(header(logout, "content-length"), QStringLiteral("0"));
        QCOMPARE(header(logout, "authorization").trimmed(), QStringLiteral("Bearer"));

        const QJsonObject update = seen[2].toObject();
        QCOMPARE(update.value("method").toString(), QStringLiteral("GET"));
        QCOMPARE(update.value("target").toString(), QStringLiteral("/api/update?channel=test&build=7"));
        QVERIFY(!hasHeader(update, "content-type"));
        QVERIFY(!hasHeader(update, "authorization"));
    }

    void unreachableServiceFallsBackOnce()
    {
        const TrustTls trust(secureFormer);
        QXServer::useURLs(closedSecureURL(), secureFormer.url());
        secureFormer.script(QStringLiteral("api/diag"), {{"status", 404}});
        const qsizetype seenBefore = secureFormer.requests().size();
        const QJsonObject report{{"reason", QStringLiteral("定时")}};
        const auto result = wait(QXServer::request<OKReply>("POST", QStringLiteral("api/diag"), report, QStringLiteral("tok")));
        QCOMPARE(result.failure.message, QStringLiteral("服务器出错（404），请稍后再试"));
        QCOMPARE(result.failure.status, 404);
        QVERIFY(!result.failure.offline);
        QCOMPARE(fallbackLines(), 1);

        // The query survives the move too, and a real answer there is a success.
        const auto update = wait(QXServer::send<UpdateInfo>(QXServer::updateRequest(3)));
        QVERIFY2(update.ok(), qPrintable(update.failure.message));
        QCOMPARE(fallbackLines(), 2);

        const QJsonArray seen = secureFormer.requests();
        QCOMPARE(seen.size(), seenBefore + 2);
        const QJsonObject diag = seen[seenBefore].toObject();
        QCOMPARE(diag.value("method").toString(), QStringLiteral("POST"));
        QCOMPARE(diag.value("target").toString(), QStringLiteral("/api/diag"));
        QCOMPARE(QJsonDocument::fromJson(body(diag)).object(), report);
        QCOMPARE(header(diag, "authorization"), QStringLiteral("Bearer tok"));
        QCOMPARE(seen[seenBefore + 1].toObject().value("target").toString(), QStringLiteral("/api/update?channel=stable&build=3"));
    }

    // Nothing answers: a service on this machine (any loopback spelling) is named with how to start it;
    // a remote one keeps the network text.
    void unansweredAddressIsNamedWhenLocal()
    {
        const QUrl closed = AccountServiceFixture::closedURL();
        QXServer::useURLs(closed, QUrl());
        const QString where = QStringLiteral("127.0.0.1:%1").arg(closed.port());
        QCOMPARE(wait(QXServer::send<UpdateInfo>(QXServer::updateRequest(1))).failure.message,
                 QStringLiteral("本机的账号服务（%1）没有应答，不是网络的问题：请先启动它（在 tarnel 的源码目录运行 "
                                "./scripts/run.sh，或 build/bin/tarnel-accountd serve --listen %1）").arg(where));
        QVERIFY(QXServer::unreachable(QUrl(QStringLiteral("https://[::1]/"))).message.contains(QStringLiteral("（[::1]:443）")));
        QVERIFY(QXServer::unreachable(QUrl(QStringLiteral("http://LocalHost:8/"))).message.contains(QStringLiteral("（localhost:8）")));
        QCOMPARE(QXServer::unreachable(QUrl(QStringLiteral("https://10.0.0.1/"))).message, offline);

        // One that takes the connection and never answers is said to hang, not to be stopped.
        QTcpServer hanging;
        QVERIFY(hanging.listen(QHostAddress::LocalHost));
        QXServer::useURLs(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(hanging.serverPort())), QUrl());
        QXServer::Request request = QXServer::updateRequest(1);
        request.timeoutMs = 300;
        QVERIFY(wait(QXServer::send<UpdateInfo>(request)).failure.message.startsWith(
            QStringLiteral("本机的账号服务（127.0.0.1:%1）接了连接却没有回话").arg(hanging.serverPort())));
    }

    void bothServicesDown()
    {
        const int before = fallbackLines();
        QXServer::useURLs(closedSecureURL(), closedSecureURL());
        const auto result = wait(QXServer::send<UpdateInfo>(QXServer::updateRequest(1)));
        QVERIFY2(result.failure.message.startsWith(localDown), qPrintable(result.failure.message));
        QCOMPARE(result.failure.status, 0);
        QVERIFY(result.failure.offline);
        QVERIFY(!result.failure.account);
        QCOMPARE(fallbackLines(), before + 1);
    }

    // A plain port nobody serves (the former address included) is anyone's to take: a password or
    // token never goes there, nor anywhere when no former address is set.
    void credentialsStayWithTheConfiguredService_data()
    {
        QTest::addColumn<QUrl>("primary");
        QTest::addColumn<bool>("formerSet");
        QTest::newRow("http to http") << AccountServiceFixture::closedURL() << true;
        QTest::newRow("https to http") << closedSecureURL() << true;
        QTest::newRow("https, no former address") << closedSecureURL() << false;
    }
    void credentialsStayWithTheConfiguredService()
    {
        QFETCH(QUrl, primary);
        QFETCH(bool, formerSet);
        const int before = fallbackLines();
        QXServer::useURLs(primary, formerSet ? former.url() : QUrl());
        const auto login = wait(QXServer::send<AuthReply>(QXServer::loginRequest(QStringLiteral("ann"), QStringLiteral("secret1"))));
        QVERIFY2(login.failure.message.startsWith(localDown), qPrintable(login.failure.message));
        const auto diag = wait(QXServer::request<OKReply>("POST", QStringLiteral("api/diag"), QJsonObject{}, QStringLiteral("tok")));
        QVERIFY2(diag.failure.message.startsWith(localDown), qPrintable(diag.failure.message));
        QCOMPARE(former.requests().size(), 0);
        QCOMPARE(fallbackLines(), before);
    }

    void requestsToOtherHostsDoNotFallBack()
    {
        const TrustTls trust(secureFormer);
        QXServer::useURLs(QUrl(QStringLiteral("https://localhost:%1/").arg(AccountServiceFixture::closedPort())), secureFormer.url());
        QXServer::Request request = QXServer::makeRequest("GET", QStringLiteral("api/update"));
        request.url.setHost(QStringLiteral("127.0.0.1")); // the service's host is "localhost": no match
        const qsizetype seenBefore = secureFormer.requests().size();
        QVERIFY(!QXServer::fallbackURL(request.url));
        QVERIFY(wait(QXServer::send<UpdateInfo>(request)).failure.message.startsWith(localDown));
        QCOMPARE(secureFormer.requests().size(), seenBefore);
    }

    void stalledReplyTimesOut()
    {
        service.script(QStringLiteral("api/update"), {{"delayMs", 3000}});
        QXServer::Request request = QXServer::updateRequest(1);
        request.timeoutMs = 500;
        QElapsedTimer clock;
        clock.start();
        const auto result = wait(QXServer::send<UpdateInfo>(request));
        QVERIFY2(result.failure.message.startsWith(localDown), qPrintable(result.failure.message));
        QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    }

    void droppedConnectionFallsBack()
    {
        AccountServiceFixture secure({true, true});
        if (!secure.start())
            QSKIP(qPrintable(secure.error()));
        const TrustTls trust(secureFormer, secure);
        QXServer::useURLs(secure.url(), secureFormer.url());
        const qsizetype seenBefore = secureFormer.requests().size();
        // Qt itself resends when a kept-alive connection closes (over TLS more than once): drop them all.
        secure.script(QStringLiteral("api/update"), {{"drop", true}, {"times", 5}});
        const auto result = wait(QXServer::send<UpdateInfo>(QXServer::updateRequest(1)));
        QVERIFY2(result.ok(), qPrintable(result.failure.message));
        QCOMPARE(secureFormer.requests().size(), seenBefore + 1);
    }

    // An untrusted certificate is secureFailuresNeverFallBack's; trusted, the service answers over TLS.
    void trustedCertificateAnswers()
    {
        AccountServiceFixture secure({false, true});
        if (!secure.start())
            QSKIP(qPrintable(secure.error()));
        QXServer::useURLs(secure.url(), AccountServiceFixture::closedURL());
        const QSslConfiguration original = QSslConfiguration::defaultConfiguration();
        QSslConfiguration trusting = original;
        trusting.addCaCertificates(secure.certificatePath());
        QSslConfiguration::setDefaultConfiguration(trusting);
        const auto trusted = wait(QXServer::send<UpdateInfo>(QXServer::updateRequest(1)));
        QSslConfiguration::setDefaultConfiguration(original);
        QVERIFY2(trusted.ok(), qPrintable(trusted.failure.message));
        QVERIFY(!trusted.reply->available);
    }

    // A failed secure connection is not "unreachable": the login is not sent on to the former service.
    void secureFailuresNeverFallBack_data()
    {
        QTest::addColumn<bool>("untrusted"); // else the secure address is closed and the former one plain
        QTest::newRow("untrusted certificate") << true;
        QTest::newRow("https down, former http") << false;
    }
    void secureFailuresNeverFallBack()
    {
        QFETCH(bool, untrusted);
        AccountServiceFixture secure({false, true});
        if (untrusted && !secure.start())
            QSKIP(qPrintable(secure.error()));
        const int before = fallbackLines();
        const QUrl primary = untrusted ? secure.url()
                                       : QUrl(QStringLiteral("https://127.0.0.1:%1/").arg(AccountServiceFixture::closedPort()));
        QXServer::useURLs(primary, former.url());
        const auto login = wait(QXServer::send<AuthReply>(QXServer::loginRequest(QStringLiteral("ann"), QStringLiteral("secret1"))));
        QVERIFY2(login.failure.message.startsWith(localDown), qPrintable(login.failure.message));
        QCOMPARE(former.requests().size(), 0);
        QCOMPARE(fallbackLines(), before);
    }

    void deviceIdsStayOneSegment()
    {
        QCOMPARE(QXServer::deviceRemovalPath(QStringLiteral("A1-b_2")), QStringLiteral("api/device/A1-b_2/remove"));
        QCOMPARE(QXServer::endpoint(*QXServer::deviceRemovalPath(QStringLiteral("../login?x=1#y"))).path(QUrl::FullyEncoded),
                 QStringLiteral("/api/device/..%2Flogin%3Fx%3D1%23y/remove"));
        QVERIFY(!QXServer::deviceRemovalPath(QString()));
        QVERIFY(!QXServer::deviceRemovalPath(QStringLiteral(".")));
        QVERIFY(!QXServer::deviceRemovalPath(QStringLiteral("..")));

        const auto refused = wait(QXServer::removeDevice(QStringLiteral(".."), QStringLiteral("t")));
        QVERIFY(!refused.ok());
        QCOMPARE(refused.failure.message, QStringLiteral("设备编号不对，没有发出请求"));
        QCOMPARE(service.requests().size(), 0);
    }

    void baseURLPathIsKept()
    {
        QXServer::useURLs(QUrl(QStringLiteral("https://example.invalid/prefix")), AccountServiceFixture::closedURL());
        QCOMPARE(QXServer::endpoint(QStringLiteral("api/login")).toString(),
                 QStringLiteral("https://example.invalid/prefix/api/login"));
    }

    // Sign-in, check-in, sign-out, diagnostics and feedback through the client are AccountTest's,
    // DiagnosticsTest's and FeedbackModelTest's, against the same service.
    void devicesAreRemovedOnlyFromTheirAccount()
    {
        const QString erin = service.signUp(QStringLiteral("erin"), QStringLiteral("secret1"));
        const QString frank = service.signUp(QStringLiteral("frank"), QStringLiteral("secret1"));
        const QString odd = QStringLiteral("dev/1?x=%");
        QCOMPARE(service.admin({QStringLiteral("devices"), QStringLiteral("add"), QStringLiteral("erin"), odd, QStringLiteral("笔记本")}).status, 0);

        const auto foreign = wait(QXServer::removeDevice(odd, frank));
        QCOMPARE(foreign.failure.status, 404);
        QCOMPARE(foreign.failure.message, QStringLiteral("你的账号里没有这台设备"));

        const auto removed = wait(QXServer::removeDevice(odd, erin));
        QVERIFY2(removed.ok(), qPrintable(removed.failure.message));
        QVERIFY(!service.admin({QStringLiteral("devices"), QStringLiteral("list")}).out.contains(odd));
    }
};

QTEST_GUILESS_MAIN(QXServerTest)
#include "QXServerTest.moc"
