// The account-service client against the real tarnel-accountd on loopback: every failure message, the
// headers, the single fallback to the former service, time-outs, TLS and each endpoint the app uses.
#include "account/AccountRecord.h"
#include "account/AuthReply.h"
#include "account/MachineInfo.h"
#include "account/PingReply.h"
#include "account/QXServer.h"
#include "support/AccountServiceFixture.h"
#include "support/AwaitFuture.h"
#include "support/TempDataDir.h"

#include <QJsonDocument>
#include <QSslConfiguration>
#include <QUuid>
#include <QtTest>

namespace {
const QString offline = QStringLiteral("连不上 tarnel 服务器，请检查本机网络后再试");

template <typename T>
QXServer::Result<T> wait(QFuture<QXServer::Result<T>> future)
{
    if (auto result = awaitFuture(future, 60000))
        return *result;
    return {std::nullopt, {QStringLiteral("(test) no result in time"), std::nullopt, -1, false}};
}

QUrl closedURL() { return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(AccountServiceFixture::closedPort())); }

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
    }

    void init()
    {
        service.resetHooks();
        former.resetHooks();
        QXServer::setTestChannelOptIn(false);
        QXServer::useURLs(service.url(), closedURL());
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
        QTest::newRow("401 no body") << 401 << "" << false << "服务器出错（401），请稍后再试" << "" << false;
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
        QCOMPARE(fallbackLines(), 0);
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
        QCOMPARE(QString::fromUtf8(QXServer::userAgent()), QStringLiteral("tarnel/0.1.0-dev (0)"));

        const QJsonObject diag = seen[0].toObject();
        QCOMPARE(diag.value("method").toString(), QStringLiteral("POST"));
        QCOMPARE(header(diag, "content-type"), QStringLiteral("application/json"));
        QCOMPARE(header(diag, "authorization"), QStringLiteral("Bearer tok"));
        QCOMPARE(QJsonDocument::fromJson(body(diag)).object(), report);
        QVERIFY(!body(diag).contains('\n'));

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
        QXServer::useURLs(closedURL(), former.url());
        former.script(QStringLiteral("api/diag"), {{"status", 404}});
        const QJsonObject report{{"reason", QStringLiteral("定时")}};
        const auto result = wait(QXServer::request<OKReply>("POST", QStringLiteral("api/diag"), report, QStringLiteral("tok")));
        QCOMPARE(result.failure.message, QStringLiteral("服务器出错（404），请稍后再试"));
        QCOMPARE(result.failure.status, 404);
        QVERIFY(!result.failure.offline);
        QCOMPARE(fallbackLines(), 1);

        // The query survives the move too, and a real answer there is a success.
        const auto update = wait(QXServer::send<UpdateInfo>(QXServer::updateRequest(3)));
        QVERIFY(update.ok());
        QCOMPARE(fallbackLines(), 2);

        const QJsonArray seen = former.requests();
        QCOMPARE(seen.size(), 2);
        const QJsonObject diag = seen[0].toObject();
        QCOMPARE(diag.value("method").toString(), QStringLiteral("POST"));
        QCOMPARE(diag.value("target").toString(), QStringLiteral("/api/diag"));
        QCOMPARE(QJsonDocument::fromJson(body(diag)).object(), report);
        QCOMPARE(header(diag, "authorization"), QStringLiteral("Bearer tok"));
        QCOMPARE(header(diag, "content-type"), QStringLiteral("application/json"));
        QCOMPARE(header(diag, "user-agent"), QString::fromUtf8(QXServer::userAgent()));
        QCOMPARE(seen[1].toObject().value("target").toString(), QStringLiteral("/api/update?channel=stable&build=3"));
    }

    void httpErrorsNeverFallBack()
    {
        const int before = fallbackLines();
        QXServer::useURLs(service.url(), former.url());
        service.script(QStringLiteral("api/app/ping"), {{"status", 502}, {"body", R"({"error":"网关坏了"})"}});
        const auto result = wait(QXServer::request<PingReply>("POST", QStringLiteral("api/app/ping"), QJsonObject{}, QStringLiteral("t")));
        QCOMPARE(result.failure.message, QStringLiteral("网关坏了"));
        QCOMPARE(result.failure.status, 502);
        QVERIFY(result.failure.offline);
        QCOMPARE(former.requests().size(), 0);
        QCOMPARE(fallbackLines(), before);
    }

    void bothServicesDown()
    {
        const int before = fallbackLines();
        QXServer::useURLs(closedURL(), closedURL());
        const auto result = wait(QXServer::send<UpdateInfo>(QXServer::updateRequest(1)));
        QVERIFY(!result.ok());
        QCOMPARE(result.failure.message, offline);
        QCOMPARE(result.failure.status, 0);
        QVERIFY(result.failure.offline);
        QVERIFY(!result.failure.account);
        QCOMPARE(fallbackLines(), before + 1);
    }

    void requestsToOtherHostsDoNotFallBack()
    {
        QXServer::useURLs(QUrl(QStringLiteral("http://localhost:%1/").arg(AccountServiceFixture::closedPort())), former.url());
        QXServer::Request request = QXServer::makeRequest("GET", QStringLiteral("api/update"));
        request.url.setHost(QStringLiteral("127.0.0.1")); // the service's host is "localhost": no match
        QVERIFY(!QXServer::fallbackURL(request.url));
        QCOMPARE(wait(QXServer::send<UpdateInfo>(request)).failure.message, offline);
        QCOMPARE(former.requests().size(), 0);
    }

    void stalledReplyTimesOut()
    {
        service.script(QStringLiteral("api/update"), {{"delayMs", 3000}});
        QXServer::Request request = QXServer::updateRequest(1);
        request.timeoutMs = 500;
        QElapsedTimer clock;
        clock.start();
        const auto result = wait(QXServer::send<UpdateInfo>(request));
        QCOMPARE(result.failure.message, offline);
        QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    }

    void droppedConnectionFallsBack()
    {
        QXServer::useURLs(service.url(), former.url());
        // Qt itself resends once when a kept-alive connection closes, so drop both attempts.
        service.script(QStringLiteral("api/update"), {{"drop", true}, {"times", 2}});
        const auto result = wait(QXServer::send<UpdateInfo>(QXServer::updateRequest(1)));
        QVERIFY2(result.ok(), qPrintable(result.failure.message));
        QCOMPARE(former.requests().size(), 1);
    }

    void untrustedCertificateIsATransportFailure()
    {
        AccountServiceFixture secure({false, true});
        if (!secure.start())
            QSKIP(qPrintable(secure.error()));
        QCOMPARE(secure.url().scheme(), QStringLiteral("https"));
        QXServer::useURLs(secure.url(), closedURL());
        QCOMPARE(wait(QXServer::send<UpdateInfo>(QXServer::updateRequest(1))).failure.message, offline);

        // Trusted, the same service answers over TLS.
        const QSslConfiguration original = QSslConfiguration::defaultConfiguration();
        QSslConfiguration trusting = original;
        trusting.addCaCertificates(secure.certificatePath());
        QSslConfiguration::setDefaultConfiguration(trusting);
        QXServer::manager()->clearConnectionCache(); // the refused connection kept the old configuration
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
        QCOMPARE(login.failure.message, offline);
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
        QXServer::useURLs(QUrl(QStringLiteral("https://example.invalid/prefix")), closedURL());
        QCOMPARE(QXServer::endpoint(QStringLiteral("api/login")).toString(),
                 QStringLiteral("https://example.invalid/prefix/api/login"));
    }

    // Every endpoint the app uses, against the real service.
    void signUpSignInAndOut()
    {
        const auto registered = wait(QXServer::send<AuthReply>(QXServer::registerRequest(
            QStringLiteral("bob"), QStringLiteral(" pass word "), QStringLiteral("鲍勃"), service.createInvite())));
        QVERIFY2(registered.ok(), qPrintable(registered.failure.message));
        QCOMPARE(registered.reply->displayName, QStringLiteral("鲍勃"));
        QCOMPARE(registered.reply->status, QStringLiteral("active"));

        const auto signedIn = wait(QXServer::send<AuthReply>(QXServer::loginRequest(QStringLiteral("bob"), QStringLiteral(" pass word "))));
        QVERIFY2(signedIn.ok(), qPrintable(signedIn.failure.message));
        const auto wrong = wait(QXServer::send<AuthReply>(QXServer::loginRequest(QStringLiteral("bob"), QStringLiteral("pass word"))));
        QCOMPARE(wrong.failure.message, QStringLiteral("用户名或密码不对"));
        QCOMPARE(wrong.failure.status, 401);
        QVERIFY(!wrong.failure.offline);

        const QString token = *signedIn.reply->token;
        QVERIFY(wait(QXServer::request<OKReply>("POST", QStringLiteral("api/logout"), std::nullopt, token)).ok());
        const auto afterLogout = wait(QXServer::request<PingReply>("POST", QStringLiteral("api/app/ping"), QXServer::checkInBody(0, 0), token));
        QCOMPARE(afterLogout.failure.status, 401);
        QCOMPARE(afterLogout.failure.account, QStringLiteral("invalid"));
        QCOMPARE(afterLogout.failure.message, QStringLiteral("登录已失效，请重新登录"));
    }

    // The offer a newer release brings is AccountTest's (through the update hook).
    void checkInCarriesStateAndOffers()
    {
        const QString token = service.signUp(QStringLiteral("carol"), QStringLiteral("secret1"), QStringLiteral("卡罗尔"));
        QVERIFY(!token.isEmpty());
        QXServer::setTestChannelOptIn(true);
        const auto ping = wait(QXServer::request<PingReply>("POST", QStringLiteral("api/app/ping"), QXServer::checkInBody(2, 3), token));
        QVERIFY2(ping.ok(), qPrintable(ping.failure.message));
        QCOMPARE(ping.reply->account, QStringLiteral("active"));
        QCOMPARE(ping.reply->displayName, QStringLiteral("卡罗尔"));
        QVERIFY(!ping.reply->update);
        const QString checkins = service.admin({QStringLiteral("checkins"), QStringLiteral("list")}).out;
        QVERIFY(checkins.contains(QStringLiteral("carol\t")));
        QVERIFY(checkins.contains(QStringLiteral("\t0\ttest\t") + MachineInfo::system() + QLatin1Char('\t')));

        // A disabled sign-in is a failure with the account word and the service's text.
        QCOMPARE(service.admin({QStringLiteral("users"), QStringLiteral("disable"), QStringLiteral("carol")}).status, 0);
        const auto refused = wait(QXServer::send<AuthReply>(QXServer::loginRequest(QStringLiteral("carol"), QStringLiteral("secret1"))));
        QCOMPARE(refused.failure.account, QStringLiteral("disabled"));
        QCOMPARE(refused.failure.message, QStringLiteral("你的账号已停用，请联系管理员"));
    }

    void diagnosticsAndFeedbackAreStored()
    {
        const QString token = service.signUp(QStringLiteral("dave"), QStringLiteral("secret1"));
        const QJsonObject report{{"reason", QStringLiteral("定时")}, {"build", 0}, {"version", "0.1.0"},
                                 {"deviceName", QStringLiteral("书房")}, {"deviceAlias", "study"},
                                 {"status", QJsonValue::Null}, {"appLog", "a\n"}, {"netLog", ""}};
        const auto diag = wait(QXServer::request<OKReply>("POST", QStringLiteral("api/diag"), report, token));
        QVERIFY2(diag.ok(), qPrintable(diag.failure.message));
        QVERIFY(diag.reply->id.value_or(0) > 0);
        QVERIFY(service.admin({QStringLiteral("diagnostics"), QStringLiteral("list")}).out.contains(QStringLiteral("dave\t")));

        const QString boundary = QStringLiteral("tarnel-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        QByteArray form;
        auto part = [&](const QByteArray& name, const QByteArray& bytes, const QByteArray& file = {}) {
            form += "--" + boundary.toUtf8() + "\r\nContent-Disposition: form-data; name=\"" + name + "\"";
            if (!file.isEmpty())
                form += "; filename=\"" + file + "\"\r\nContent-Type: image/jpeg";
            form += "\r\n\r\n" + bytes + "\r\n";
        };
        part("text", QStringLiteral("截图传不上去").toUtf8());
        part("env", R"x({"app":"0.1.0 (0)"})x");
        part("images", QByteArray(3000, '\xff'), "screenshot-1.jpg");
        form += "--" + boundary.toUtf8() + "--\r\n";
        const QXServer::Request request = QXServer::feedbackRequest(token, boundary, form);
        QCOMPARE(request.timeoutMs, 120000);
        const auto sent = wait(QXServer::send<OKReply>(request));
        QVERIFY2(sent.ok(), qPrintable(sent.failure.message));
        QVERIFY(sent.reply->id.value_or(0) > 0);
        const QString listing = service.admin({QStringLiteral("feedback"), QStringLiteral("list")}).out;
        QVERIFY(listing.contains(QStringLiteral("dave\t")));
        QVERIFY(listing.contains(QStringLiteral("\t1\t0\t截图传不上去")));
    }

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
