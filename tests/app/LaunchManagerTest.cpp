#include "app/LaunchManager.h"
#include "platform/x11/SystemdUserAgent.h"
#include "platform/x11/XdgAutostart.h"
#include "state/Store.h"
#include "support/FakeLaunchServices.h"
#include "support/TempDataDir.h"

#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QProcess>
#include <QSemaphore>
#include <QStandardPaths>
#include <QTest>

class LaunchManagerTest : public QObject {
    Q_OBJECT
    TempDataDir data;

private Q_SLOTS:
    void firstStartAppliesLoginItemOnceAndSaves()
    {
        FakeLoginItem login;
        FakeKeepAliveAgent agent;
        LaunchManager launch(login, agent);
        Store store(data.file(QStringLiteral("first")));
        Settings s;
        QVERIFY(launch.syncOnLaunch(s, store, false));
        launch.waitForIdle();
        QVERIFY(login.enabled);
        QVERIFY(s.launchDecided);
        QVERIFY(store.loadSettings().launchDecided);
        // Later starts leave the user's own choice alone.
        login.enabled = false;
        QVERIFY(!launch.syncOnLaunch(s, store, false));
        launch.waitForIdle();
        QVERIFY(!login.enabled);
        QCOMPARE(agent.registrations, 0);
    }

    void keepAliveIsRegisteredAgainUnlessStartedByTheAgent()
    {
        FakeLoginItem login;
        FakeKeepAliveAgent agent;
        agent.registered = true;
        LaunchManager launch(login, agent);
        Store store(data.file(QStringLiteral("agent")));
        Settings s;
        s.launchDecided = true;
        s.keepAliveAgent = true;
        QVERIFY(!launch.syncOnLaunch(s, store, true));
        launch.waitForIdle();
        QCOMPARE(agent.registrations, 0);
        QVERIFY(launch.syncOnLaunch(s, store, false));
        launch.waitForIdle();
        QCOMPARE(agent.unregistrations, 1);
        QCOMPARE(agent.registrations, 1);
        QVERIFY(data.logLines().join(QLatin1Char('\n')).contains(QStringLiteral("崩溃后自动重启：重新注册")));
    }

    // systemctl can take seconds: the caller (the GUI thread) does not wait; the changes keep their order.
    void changesAreAppliedLaterOffTheCallingThread()
    {
        FakeLoginItem login;
        FakeKeepAliveAgent agent;
        QSemaphore answer;
        agent.onCall = [&] { answer.tryAcquire(1, 5000); };
        LaunchManager launch(login, agent);
        Store store(data.file(QStringLiteral("slow")));
        Settings s;
        s.launchDecided = true;
        s.keepAliveAgent = true;
        QElapsedTimer asked;
        asked.start();
        QVERIFY(launch.syncOnLaunch(s, store, false));
        launch.applyAgent(false);
        QVERIFY2(asked.elapsed() < 2500, qPrintable(QString::number(asked.elapsed())));
        answer.release(2);
        launch.waitForIdle();
        QVERIFY(agent.calledOn && agent.calledOn != QThread::currentThread());
        QCOMPARE(agent.registrations, 1);
        QCOMPARE(agent.unregistrations, 1);
        QVERIFY(!agent.registered);
    }

    void autostartEntryIsValidAndRemovable()
    {
        const QString config = data.file(QStringLiteral("config"));
        XdgAutostart item(QStringLiteral("/opt/tarnel bundle/bin/tarnel"), config);
        QVERIFY(!item.isEnabled());
        QVERIFY(item.setEnabled(true).ok());
        QVERIFY(item.isEnabled());
        const QByteArray text = readFile(item.filePath());
        QVERIFY(text.contains("Exec=\"/opt/tarnel bundle/bin/tarnel\"\n"));
        if (!QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate")).isEmpty()) {
            QProcess check;
            check.start(QStringLiteral("desktop-file-validate"), {item.filePath()});
            QVERIFY(check.waitForFinished());
            QVERIFY2(check.exitCode() == 0, check.readAllStandardOutput().constData());
        }
        QVERIFY(item.setEnabled(false).ok());
        QVERIFY(!item.isEnabled());
        // A path that would need escaping in Exec= is refused, not written broken.
        XdgAutostart hostile(QStringLiteral("/tmp/a\"b`c"), config);
        QVERIFY(!hostile.setEnabled(true).ok());
        QVERIFY(!hostile.isEnabled());
    }

    void keepAliveUnitIsValidAndRegisteredThroughSystemctl()
    {
        const QString config = data.file(QStringLiteral("systemd-config"));
        QStringList calls;
        SystemdUserAgent agent(QStringLiteral("/usr/bin/true"),
                               [&calls](const QStringList& args) {
                                   calls << args.join(QLatin1Char(' '));
                                   return Outcome<>::success();
                               },
                               config);
        QVERIFY(agent.registerAgent().ok());
        QCOMPARE(calls, QStringList({QStringLiteral("daemon-reload"),
                                     QStringLiteral("import-environment DISPLAY XAUTHORITY"),
                                     QStringLiteral("enable tarnel-keepalive.service")}));
        const QByteArray unit = readFile(agent.unitPath());
        QVERIFY(unit.contains("Restart=on-failure\n"));
        QVERIFY(unit.contains("Environment=TARNEL_LAUNCHD_AGENT=1\n"));
        if (!QStandardPaths::findExecutable(QStringLiteral("systemd-analyze")).isEmpty()) {
            QProcess verify;
            verify.start(QStringLiteral("systemd-analyze"), {QStringLiteral("verify"), agent.unitPath()});
            QVERIFY(verify.waitForFinished(20000));
            const QByteArray complaints = verify.readAllStandardError();
            // Only the unit's own lines matter; the host may lack a user manager.
            QVERIFY2(!complaints.contains("tarnel-keepalive.service:"), complaints.constData());
        }
        calls.clear();
        QVERIFY(agent.unregisterAgent().ok());
        QCOMPARE(calls.first(), QStringLiteral("disable tarnel-keepalive.service"));
        QVERIFY(!QFile::exists(agent.unitPath()));
        QVERIFY(!SystemdUserAgent::unitText(QStringLiteral("/opt/100%/tarnel")));
    }
};

QTEST_GUILESS_MAIN(LaunchManagerTest)
#include "LaunchManagerTest.moc"
