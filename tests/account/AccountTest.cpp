#include "account/Account.h"
#include "account/MachineInfo.h"
#include "account/QXServer.h"
#include "support/AccountServiceFixture.h"
#include "support/WaitUntil.h"
#include "support/AwaitFuture.h"
#include "support/DeviceKeys.h"
#include "support/FakeWakeNotifier.h"
#include "support/ReleaseRig.h"
#include "support/TempDataDir.h"

#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>
#include <memory>

using namespace std::chrono_literals;

namespace {
// The answer of an account operation; a marker text when it never came.
std::optional<QString> answerOf(const QFuture<std::optional<QString>>& future)
{
    return awaitFuture(future, 20000).value_or(QStringLiteral("<no answer>"));
}

// None when it went through, else the message shown.
std::optional<QString> answerOf(const QFuture<Outcome<>>& future)
{
    const auto outcome = awaitFuture(future, 20000);
    if (!outcome)
        return QStringLiteral("<no answer>");
    return outcome->ok() ? std::nullopt : std::optional<QString>(outcome->failure());
}
} // namespace

// The account state against the real tarnel-accountd: the state table of sign-in, check-in and sign-out,
// with the account changed through the service's admin command line between calls.
class AccountTest : public QObject {
    Q_OBJECT

    TempDataDir data;
    AccountServiceFixture service;
    FakeWakeNotifier wake;
    int userCount = 0;
    qsizetype seen = 0; // requests the service had received before the current test

    // A fresh account on the service, signed in through `account`; returns its login name.
    QString signedInUser(Account& account, const QString& password = QStringLiteral("secret1"))
    {
        const QString name = QStringLiteral("user%1").arg(++userCount);
        if (service.signUp(name, password).isEmpty())
            return {};
        const auto pingedBefore = account.lastPingAt();
        if (answerOf(account.signIn(name, password)) != std::optional<QString>())
            return {};
        // The check-in that follows every sign-in comes back first, so it cannot mix with the next step.
        if (!waitUntil([&] { return account.lastPingAt() != pingedBefore || account.lastPingError(); }, Limit::network))
            return {};
        return name;
    }

    QList<QJsonObject> requestsTo(const QString& path) const { return service.requestsTo(path, seen); }
    QList<QJsonObject> pings() const { return requestsTo(QStringLiteral("/api/app/ping")); }

    int logCount(const QString& line) const { return data.logLines().filter(line).size(); }

    void admin(const QStringList& args)
    {
        const auto out = service.admin(args);
        QVERIFY2(out.status == 0, qPrintable(out.err));
    }

    std::unique_ptr<Account> freshAccount(Account::Schedule schedule = {})
    {
        return std::make_unique<Account>(&wake, schedule);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(service.start(), qPrintable(service.error()));
        QXServer::useURLs(service.url(), AccountServiceFixture::closedURL());
    }

    void init()
    {
        AccountRecord::remove();
        seen = service.requests().size();
    }

    void startsFromTheSavedSignIn()
    {
        const AccountRecord saved{QStringLiteral("qx"), QStringLiteral("Q"), QStringLiteral("tok"), std::nullopt};
        QVERIFY(saved.save().ok());
        auto account = freshAccount();
        QCOMPARE(account->record(), saved);
        QVERIFY(account->isUsable());
        QVERIFY(!account->gateReason());
        QVERIFY(!account->notice());
    }

    void signInTrimsTheNameButNotThePassword()
    {
        auto account = freshAccount();
        QVERIFY(!service.signUp(QStringLiteral("blanks"), QStringLiteral(" pass word ")).isEmpty());
        QCOMPARE(answerOf(account->signIn(QStringLiteral(" \tblanks\t "), QStringLiteral(" pass word "))),
                 std::optional<QString>());
        QCOMPARE(account->record()->username, QStringLiteral("blanks"));
        QVERIFY(account->isUsable());
        QCOMPARE(AccountRecord::load(), account->record());
        QCOMPARE(logCount(QStringLiteral("账号：已登录 blanks")), 1);
        QTRY_VERIFY(account->lastPingAt().has_value()); // every sign-in is followed by a check-in

        // A wrong password is the service's text, and changes nothing.
        QCOMPARE(answerOf(account->signIn(QStringLiteral("blanks"), QStringLiteral("pass word"))),
                 std::optional<QString>(QStringLiteral("用户名或密码不对")));
        QCOMPARE(account->status(), Account::Status::active);
    }

    void registersWithAnInvitation()
    {
        auto account = freshAccount();
        const QString invite = service.createInvite();
        QCOMPARE(answerOf(account->registerAccount(QStringLiteral(" newbie "), QStringLiteral("123456"),
                                                      QStringLiteral("\t小新 "), QStringLiteral(" ") + invite)),
                 std::optional<QString>());
        QCOMPARE(account->record()->username, QStringLiteral("newbie"));
        QCOMPARE(account->record()->displayName, QStringLiteral("小新"));
        QVERIFY(account->isUsable());

        // The invitation is used up: a second registration fails and leaves the state alone.
        QVERIFY(answerOf(account->registerAccount(QStringLiteral("other"), QStringLiteral("123456"),
                                                     QStringLiteral("O"), invite))
                    .has_value());
        QCOMPARE(account->record()->username, QStringLiteral("newbie"));
    }

    void checkInFollowsTheAccount()
    {
        auto account = freshAccount();
        const QString name = signedInUser(*account);
        QVERIFY(!name.isEmpty());

        admin({QStringLiteral("users"), QStringLiteral("disable"), name});
        QCOMPARE(answerOf(account->ping(false)), std::optional<QString>(QStringLiteral("账号已停用")));
        QCOMPARE(account->status(), Account::Status::disabled);
        QVERIFY(account->record());
        QVERIFY(!account->isUsable());
        QCOMPARE(account->notice(), QStringLiteral("你的账号已停用，请联系管理员"));
        QCOMPARE(account->disabledUsername(), name);
        QCOMPARE(logCount(QStringLiteral("账号：服务器说 disabled")), 1);

        // The same answer again changes and logs nothing.
        QCOMPARE(answerOf(account->ping(false)), std::optional<QString>(QStringLiteral("账号已停用")));
        QCOMPARE(logCount(QStringLiteral("账号：服务器说 disabled")), 1);

        admin({QStringLiteral("users"), QStringLiteral("enable"), name});
        QCOMPARE(answerOf(account->ping(true)), std::optional<QString>(QStringLiteral("账号正常")));
        QVERIFY(account->isUsable());
        QVERIFY(!account->notice());
        QCOMPARE(logCount(QStringLiteral("账号：服务器说 active")), 1);

        admin({QStringLiteral("users"), QStringLiteral("rename"), name, QStringLiteral("新名字")});
        QVERIFY(answerOf(account->ping(false)).has_value());
        QCOMPARE(account->record()->displayName, QStringLiteral("新名字"));
        QCOMPARE(AccountRecord::load()->displayName, QStringLiteral("新名字"));

        admin({QStringLiteral("users"), QStringLiteral("delete"), name});
        QCOMPARE(answerOf(account->ping(false)), std::optional<QString>(QStringLiteral("登录已失效")));
        QCOMPARE(account->status(), Account::Status::signedOut);
        QVERIFY(!account->record());
        QVERIFY(!QFile::exists(AccountRecord::filePath()));
        QCOMPARE(account->notice(), QStringLiteral("登录已失效（账号可能被管理员删除了），请重新登录"));
        QCOMPARE(logCount(QStringLiteral("账号：已退出登录（登录已失效（账号可能被管理员删除了），请重新登录）")), 1);
        QCOMPARE(account->gateReason(), QStringLiteral("还没登录 tarnel 账号"));

        // Signed out: a check-in answers at once without asking the service.
        const int before = pings().size();
        QCOMPARE(answerOf(account->ping(true)), std::optional<QString>());
        QCOMPARE(pings().size(), before);
    }

    // Removed from the account on another machine: this one's sign-in ends and the login window says why.
    void aRemovedComputerIsSignedOut()
    {
        auto account = freshAccount();
        const QString name = signedInUser(*account);
        QVERIFY(!name.isEmpty());
        DeviceKeys keys;
        const QJsonObject self = keys.prove({{"id", "removed-computer-1"}, {"name", "Box"}, {"alias", "qx-box"},
                                             {"endpoints", QJsonArray{}}}, "box", account->record()->token);
        QCOMPARE(service.post(QStringLiteral("api/net/sync"), self, account->record()->token).status, 200);
        const QString other = service.signIn(name, QStringLiteral("secret1"));
        QCOMPARE(service.post(QStringLiteral("api/device/removed-computer-1/remove"), {}, other).status, 200);

        QCOMPARE(answerOf(account->ping(false)), std::optional<QString>(QStringLiteral("登录已失效")));
        QCOMPARE(account->status(), Account::Status::signedOut);
        QVERIFY(!QFile::exists(AccountRecord::filePath()));
        QCOMPARE(account->notice(), Account::removedDeviceNotice());
    }

    // Another service at the sign-in's address (another user's, started on the shared port) refuses the
    // token: the sign-in stays and nothing is signed out. Its own service saying the account is gone still
    // signs out. A sign-in saved before services named themselves learns its service at a check-in.
    void aSignInIsKeptFromAnotherServiceAtItsAddress()
    {
        AccountServiceFixture::Options shared;
        shared.port = AccountServiceFixture::closedPort();
        AccountServiceFixture mine(shared), other(shared);
        QVERIFY2(mine.start(), qPrintable(mine.error()));
        QXServer::useURLs(mine.url(), AccountServiceFixture::closedURL());
        QVERIFY(!mine.signUp(QStringLiteral("owner"), QStringLiteral("secret1")).isEmpty());
        AccountRecord older = AccountRecord{QStringLiteral("owner"), QStringLiteral("owner"),
                                            mine.signIn(QStringLiteral("owner"), QStringLiteral("secret1")), std::nullopt};
        QVERIFY(older.save().ok());
        auto account = freshAccount();
        QCOMPARE(answerOf(account->ping(true)), std::optional<QString>(QStringLiteral("账号正常")));
        const std::optional<QString> id = AccountRecord::load()->service;
        QVERIFY(id && !id->isEmpty());

        mine.stop();
        QVERIFY2(other.start(), qPrintable(other.error()));
        const QString notOurs = QStringLiteral("127.0.0.1:%1 上的账号服务不是你登录的那个，登录还保留着").arg(shared.port);
        QCOMPARE(answerOf(account->ping(true)), std::optional<QString>(notOurs));
        QVERIFY(account->isUsable());
        QCOMPARE(account->lastPingError(), notOurs);
        QCOMPARE(AccountRecord::load(), account->record());
        QVERIFY(other.requestsTo(QStringLiteral("/api/logout")).isEmpty());

        other.stop();
        QVERIFY2(mine.start(), qPrintable(mine.error()));
        QCOMPARE(answerOf(account->ping(true)), std::optional<QString>(QStringLiteral("账号正常")));
        QCOMPARE(AccountRecord::load()->service, id);
        const auto out = mine.admin({QStringLiteral("users"), QStringLiteral("delete"), QStringLiteral("owner")});
        QVERIFY2(out.status == 0, qPrintable(out.err));
        QCOMPARE(answerOf(account->ping(false)), std::optional<QString>(QStringLiteral("登录已失效")));
        QVERIFY(!account->record() && !QFile::exists(AccountRecord::filePath()));
        QXServer::useURLs(service.url(), AccountServiceFixture::closedURL());
    }

    void checkInSendsUsageAndHandsOnTheUpdate()
    {
        auto account = freshAccount();
        QVERIFY(!signedInUser(*account).isEmpty());
        account->usage = [] { return std::pair<int, int>{3, 7}; };
        QList<UpdateInfo> offers;
        account->onUpdate = [&offers](const UpdateInfo& info) { offers.append(info); };

        QVERIFY(answerOf(account->ping(false)).has_value());
        const QStringList checkIns = service.admin({QStringLiteral("checkins"), QStringLiteral("list")})
                                         .out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        const QStringList last = checkIns.last().split(QLatin1Char('\t'));
        QCOMPARE((QStringList{last.value(1), last.value(5), last.value(6), last.value(8), last.value(9)}),
                 (QStringList{account->record()->username, "stable", MachineInfo::system(), "3", "7"}));
        QVERIFY(offers.isEmpty());

        // A published release newer than this build reaches the update hook.
        QTemporaryFile zip;
        QVERIFY(zip.open());
        zip.write("PK release");
        zip.close();
        QVERIFY(ReleaseRig::publish(service, zip.fileName(), "9.9.9", 999999, {"--note", "更快"}));
        QVERIFY(answerOf(account->ping(false)).has_value());
        QCOMPARE(offers.size(), 1);
        QVERIFY(offers.first().available);
        QCOMPARE(offers.first().version, QStringLiteral("9.9.9"));
        QCOMPARE(offers.first().notes, QStringList{QStringLiteral("更快")});
    }

    void signInToADisabledAccount()
    {
        auto account = freshAccount();
        const QString name = QStringLiteral("sleeper");
        QVERIFY(!service.signUp(name, QStringLiteral("secret1")).isEmpty());
        admin({QStringLiteral("users"), QStringLiteral("disable"), name});
        QCOMPARE(answerOf(account->signIn(QStringLiteral(" sleeper "), QStringLiteral("secret1"))),
                 std::optional<QString>(QStringLiteral("你的账号已停用，请联系管理员")));
        QCOMPARE(account->status(), Account::Status::disabled);
        QVERIFY(!account->record());
        QVERIFY(!account->notice());
        // The disabled card names the name that was typed, not an empty one.
        QCOMPARE(account->disabledUsername(), name);
        QCOMPARE(account->gateReason(), QStringLiteral("你的账号已停用，请联系管理员"));

        account->signOut();
        QCOMPARE(account->status(), Account::Status::signedOut);
        QCOMPARE(account->disabledUsername(), QString());
    }

    void signInWithoutATokenChangesNothing()
    {
        auto account = freshAccount();
        service.script(QStringLiteral("/api/login"),
                       {{QStringLiteral("body"),
                         QStringLiteral(R"({"username":"x","displayName":"x","role":"user","status":"active"})")}});
        QCOMPARE(answerOf(account->signIn(QStringLiteral("x"), QStringLiteral("y"))),
                 std::optional<QString>(QStringLiteral("服务器没有发登录凭证，请稍后再试")));
        QCOMPARE(account->status(), Account::Status::signedOut);
        QVERIFY(!QFile::exists(AccountRecord::filePath()));
    }

    void unreachableServiceKeepsTheState()
    {
        auto account = freshAccount();
        QVERIFY(!signedInUser(*account).isEmpty());
        const QUrl closed = AccountServiceFixture::closedURL();
        QXServer::useURLs(closed, closed);
        const QString offline = QXServer::unreachable(closed).message;
        QCOMPARE(answerOf(account->ping(false)), std::optional<QString>());
        QCOMPARE(logCount(QStringLiteral("账号：报到失败 ") + offline), 1);
        QCOMPARE(account->lastPingError(), offline);
        QCOMPARE(answerOf(account->ping(true)),
                 std::optional<QString>(QStringLiteral("暂时连不上服务器（") + offline + QStringLiteral("），下次自动再试")));
        QVERIFY(account->isUsable());
        QXServer::useURLs(service.url(), closed);

        QVERIFY(answerOf(account->ping(false)).has_value());
        QVERIFY(!account->lastPingError());
    }

    void lateCheckInAfterSignOutIsDropped()
    {
        auto account = freshAccount();
        QVERIFY(!signedInUser(*account).isEmpty());
        // The service holds each reply back long enough for a busy machine to sign out before it comes.
        service.script(QStringLiteral("/api/app/ping"),
                       {{QStringLiteral("status"), 401}, {QStringLiteral("delayMs"), 3000},
                        {QStringLiteral("body"), QStringLiteral(R"({"error":"登录已失效","account":"invalid"})")}});
        qsizetype sent = pings().size();
        auto late = account->ping(false);
        QTRY_VERIFY(pings().size() > sent); // under way: the service holds the reply back
        account->signOut();
        const QString second = signedInUser(*account);
        QVERIFY(!second.isEmpty());
        QCOMPARE(answerOf(late), std::optional<QString>());
        // The late 401 belonged to the first sign-in: the second stays.
        QCOMPARE(account->record()->username, second);
        QVERIFY(account->isUsable());
        QVERIFY(!account->notice());

        service.script(QStringLiteral("/api/app/ping"),
                       {{QStringLiteral("delayMs"), 3000},
                        {QStringLiteral("body"), QStringLiteral(R"({"account":"disabled","displayName":"old"})")}});
        sent = pings().size();
        late = account->ping(false);
        QTRY_VERIFY(pings().size() > sent);
        account->signOut();
        QCOMPARE(answerOf(late), std::optional<QString>());
        QCOMPARE(account->status(), Account::Status::signedOut);
        QVERIFY(!QFile::exists(AccountRecord::filePath()));
    }

    void anOvertakenCheckInIsDropped()
    {
        auto account = freshAccount();
        const QString name = signedInUser(*account);
        QVERIFY(!name.isEmpty());
        // The older answer is held long enough for a loaded machine to send and answer the newer one first.
        service.script(QStringLiteral("/api/app/ping"),
                       {{QStringLiteral("delayMs"), 2500}, {QStringLiteral("body"), QStringLiteral(R"({"account":"active"})")}});
        const qsizetype sent = pings().size();
        auto older = account->ping(false);
        QTRY_VERIFY(pings().size() > sent);
        admin({QStringLiteral("users"), QStringLiteral("disable"), name});
        QCOMPARE(answerOf(account->ping(false)), std::optional<QString>(QStringLiteral("账号已停用")));
        QCOMPARE(answerOf(older), std::optional<QString>());
        QCOMPARE(account->status(), Account::Status::disabled);
    }

    void signOutTellsTheService()
    {
        auto account = freshAccount();
        QVERIFY(!signedInUser(*account).isEmpty());
        const QString token = account->record()->token;
        account->signOut();
        QVERIFY(!account->record());
        QTRY_COMPARE(requestsTo(QStringLiteral("/api/logout")).size(), 1);
        QCOMPARE(requestsTo(QStringLiteral("/api/logout")).first().value(QStringLiteral("headers")).toObject()
                     .value(QStringLiteral("authorization")).toString(),
                 QStringLiteral("Bearer ") + token);

        // Signed out already: no request, but the file still goes and the line is still written.
        const AccountRecord stale{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), {}};
        QVERIFY(stale.save().ok());
        account->signOut(QStringLiteral("原因"));
        QVERIFY(!QFile::exists(AccountRecord::filePath()));
        QCOMPARE(account->notice(), QStringLiteral("原因"));
        QCOMPARE(logCount(QStringLiteral("账号：已退出登录（原因）")), 1);
        QTest::qWait(200);
        QCOMPARE(requestsTo(QStringLiteral("/api/logout")).size(), 1);
    }

    void timersAndWake()
    {
        auto account = freshAccount({50ms, 1h, 50ms});
        QVERIFY(!signedInUser(*account).isEmpty());
        const int before = pings().size();
        account->start();
        account->start();
        QCOMPARE(wake.listeners(), 1);
        QTRY_COMPARE(pings().size(), before + 1);
        QTest::qWait(200); // four times the first delay: no second check-in
        QCOMPARE(pings().size(), before + 1);

        wake.wake();
        QTRY_COMPARE(pings().size(), before + 2);
        QTest::qWait(200);
        QCOMPARE(pings().size(), before + 2);
        account.reset();
        QCOMPARE(wake.listeners(), 0);
        AccountRecord::remove();

        auto repeating = freshAccount({1h, 50ms, 1h});
        repeating->start();
        QTest::qWait(200); // signed out: the timer fires, nothing is sent
        QCOMPARE(pings().size(), before + 2);
        QVERIFY(!signedInUser(*repeating).isEmpty());
        const int signedIn = pings().size();
        QTRY_VERIFY_WITH_TIMEOUT(pings().size() >= signedIn + 2, 3000);
    }

    // With no saved sign-in, check-ins try the refused sign-in again: an unreachable service keeps it for the
    // next try, a still disabled account stays so, and a password changed meanwhile leads back to the form.
    void refusedSignInIsTriedAgainByCheckIns()
    {
        auto account = freshAccount();
        const QString name = QStringLiteral("retried");
        QVERIFY(!service.signUp(name, QStringLiteral("secret1")).isEmpty());
        admin({QStringLiteral("users"), QStringLiteral("disable"), name});
        QVERIFY(answerOf(account->signIn(name, QStringLiteral("secret1"))).has_value());
        QCOMPARE(answerOf(account->ping(false)), std::optional<QString>(QStringLiteral("账号已停用")));
        QCOMPARE(account->status(), Account::Status::disabled);

        const QUrl closed = AccountServiceFixture::closedURL();
        QXServer::useURLs(closed, closed);
        QVERIFY(answerOf(account->ping(true)).value_or(QString()).startsWith(QStringLiteral("暂时连不上服务器（")));
        QXServer::useURLs(service.url(), closed);
        QCOMPARE(account->disabledUsername(), name);

        QVERIFY(service.admin({QStringLiteral("users"), QStringLiteral("passwd"), name}, "another2\n").status == 0);
        admin({QStringLiteral("users"), QStringLiteral("enable"), name});
        const std::optional<QString> refused = answerOf(account->ping(true));
        QVERIFY(refused.has_value());
        QCOMPARE(account->status(), Account::Status::signedOut);
        QCOMPARE(account->notice(), refused);
        QCOMPARE(answerOf(account->ping(true)), std::optional<QString>()); // nothing is held any more
    }
};

QTEST_GUILESS_MAIN(AccountTest)
#include "AccountTest.moc"
