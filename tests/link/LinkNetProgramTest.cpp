// The link manager with the real tarnel-net and a real account service on loopback.
#include "account/QXServer.h"
#include "link/LinkManager.h"
#include "state/Paths.h"
#include "support/AccountServiceFixture.h"
#include "support/AwaitFuture.h"
#include "support/FakeNetworkMonitor.h"
#include "support/FakeSleepInhibitor.h"
#include "support/Processes.h"
#include "support/TempDataDir.h"
#include "support/WaitUntil.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

class LinkNetProgramTest : public QObject {
    Q_OBJECT
    TempDataDir data;
    AccountServiceFixture service;
    FakeSleepInhibitor inhibitor;
    FakeNetworkMonitor network;

    // Starts `link` on the real program and this service, signed in with `token`; false when it did not sync.
    bool startSignedIn(LinkManager& link, const QString& token)
    {
        const QString program = QStringLiteral(TARNEL_BINARY_DIR "/bin/tarnel-net");
        QXServer::useURLs(service.url(), QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(AccountServiceFixture::closedPort())));
        // A new machine each time; peers only on loopback, on any free port.
        QDir(Paths::netDirectory()).removeRecursively();
        QDir().mkpath(Paths::netDirectory());
        if (!writeWholeFile(Paths::netDirectory() + "/config.json",
                QJsonDocument(QJsonObject{{"listen", "127.0.0.1"}, {"port", 0}, {"advertise", QJsonArray{"127.0.0.1"}}}).toJson()))
            return false;
        link.programPath = [program] { return std::optional<QString>(program); };
        link.tokenProvider = [token] { return std::optional<QString>(token); };
        link.start();
        return QTest::qWaitFor([&] { return link.status() && link.status()->site && link.status()->site->ok; }, 15000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(service.start(), qPrintable(service.error()));
        if (!QFileInfo(QStringLiteral(TARNEL_BINARY_DIR "/bin/tarnel-net")).isExecutable())
            QSKIP("tarnel-net is not built");
    }

    void runsTalksToAndStopsTheLinkProgram()
    {
        const QString token = service.signUp(QStringLiteral("linker"), QStringLiteral("pw-123456"));
        QVERIFY(!token.isEmpty());
        LinkManager link(inhibitor, network);
        QVERIFY(startSignedIn(link, token));
        const qint64 pid = link.helper().pid;
        QCOMPARE(link.status()->pid, pid);
        QVERIFY(!link.status()->device.id.isEmpty());

        const auto renamed = awaitFuture(link.rename(QStringLiteral(" 书房 "), QStringLiteral("qx-study")));
        QVERIFY(renamed);
        QVERIFY2(renamed->ok(), qPrintable(renamed->failure()));
        QTRY_COMPARE(link.status()->device.name, QStringLiteral("书房"));
        link.setAllowInbound(true);
        QTRY_VERIFY(link.status()->allowInbound);

        link.stop(QStringLiteral("测试"));
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), 3000); // it obeys quit well before SIGKILL
        QVERIFY(readFile(LinkManager::logPath()).size() > 0);
    }

    // Removed from the account, the program ends as refused: the app's line promises no restart.
    void aRemovedMachineIsNotPromisedARestart()
    {
        const QString token = service.signUp(QStringLiteral("removed"), QStringLiteral("pw-123456"));
        LinkManager link(inhibitor, network);
        QVERIFY(startSignedIn(link, token));
        const QString id = link.status()->device.id;
        QCOMPARE(service.post(QStringLiteral("api/device/%1/remove").arg(id), {},
                              service.signIn(QStringLiteral("removed"), QStringLiteral("pw-123456"))).status, 200);
        const QString refused = QStringLiteral("设备互联：tarnel-net 退出（3）：账号服务不再接受这个登录；登录还有效才会在 5 秒后重启");
        QVERIFY2(waitUntil([&] { return data.logLines().join('\n').contains(refused); }, Limit::network),
                 qPrintable(data.logLines().join('\n')));
        QVERIFY(!data.logLines().join('\n').contains(QStringLiteral("退出（3），")));
        link.stop(QStringLiteral("测试"));
    }
};

QTEST_GUILESS_MAIN(LinkNetProgramTest)
#include "LinkNetProgramTest.moc"
