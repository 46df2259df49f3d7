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

private Q_SLOTS:
    void initTestCase() { QVERIFY2(service.start(), qPrintable(service.error())); }

    void runsTalksToAndStopsTheLinkProgram()
    {
        const QString program = QStringLiteral(TARNEL_BINARY_DIR "/bin/tarnel-net");
        if (!QFileInfo(program).isExecutable())
            QSKIP("tarnel-net is not built");
        const QString token = service.signUp(QStringLiteral("linker"), QStringLiteral("pw-123456"));
        QVERIFY(!token.isEmpty());
        QXServer::useURLs(service.url(), QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(AccountServiceFixture::closedPort())));
        // Peers only on loopback, on any free port.
        QDir().mkpath(Paths::netDirectory());
        QVERIFY(writeWholeFile(Paths::netDirectory() + "/config.json",
            QJsonDocument(QJsonObject{{"listen", "127.0.0.1"}, {"port", 0}, {"advertise", QJsonArray{"127.0.0.1"}}}).toJson()));

        LinkManager link(inhibitor, network);
        link.programPath = [program] { return std::optional<QString>(program); };
        link.tokenProvider = [token] { return std::optional<QString>(token); };
        link.start();
        QTRY_VERIFY_WITH_TIMEOUT(link.status() && link.status()->site && link.status()->site->ok, 15000);
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
};

QTEST_GUILESS_MAIN(LinkNetProgramTest)
#include "LinkNetProgramTest.moc"
