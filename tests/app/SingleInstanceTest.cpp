#include "support/TempDataDir.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>

// The real program, started several times as one user: only one keeps running.
class SingleInstanceTest : public QObject {
    Q_OBJECT
    QTemporaryDir home;
    std::vector<std::unique_ptr<QProcess>> started;

    QString logText() const
    {
        return QString::fromUtf8(readFile(home.filePath(QStringLiteral("data/tarnel/logs/tarnel.log"))));
    }

    QProcess& launch(bool byAgent = false)
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("TARNEL_DATA"));
        env.remove(QStringLiteral("DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("TARNEL_SERVICE_URL"), QStringLiteral("http://127.0.0.1:9/"));
        env.insert(QStringLiteral("TARNEL_LEGACY_SERVICE_URL"), QStringLiteral("http://127.0.0.1:9/"));
        if (byAgent)
            env.insert(QStringLiteral("TARNEL_LAUNCHD_AGENT"), QStringLiteral("1"));
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(QStringLiteral(TARNEL_BINARY_DIR "/bin/tarnel"), {});
        process->waitForStarted();
        started.push_back(std::move(process));
        return *started.back();
    }

    bool socketUp() const { return QFile::exists(home.filePath(QStringLiteral("run/tarnel/instance.sock"))); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        QDir().mkpath(home.filePath(QStringLiteral("run")));
        QFile::setPermissions(home.filePath(QStringLiteral("run")), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    void cleanupTestCase()
    {
        for (auto& p : started)
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished();
            }
    }

    void secondStartAsksTheFirstAndLeaves()
    {
        QProcess& first = launch();
        QTRY_VERIFY_WITH_TIMEOUT(socketUp(), 10000);
        QProcess& second = launch();
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);
        QCOMPARE(logText().count(QStringLiteral("启动 tarnel")), 1);
    }

    void agentStartTakesOverAndTheFirstQuits()
    {
        QProcess& first = *started.front();
        QProcess& successor = launch(true);
        QVERIFY(first.waitForFinished(10000));
        QCOMPARE(first.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(logText().contains(QStringLiteral("退出（交给新实例）")), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(logText().count(QStringLiteral("启动 tarnel")), 2, 10000);
        QCOMPARE(successor.state(), QProcess::Running);
    }

    void staleSocketAfterACrashDoesNotBlock()
    {
        QProcess& crashed = *started.back();
        ::kill(pid_t(crashed.processId()), SIGKILL);
        QVERIFY(crashed.waitForFinished(5000));
        QVERIFY(socketUp()); // left behind by the crash
        QProcess& next = launch();
        QTRY_COMPARE_WITH_TIMEOUT(logText().count(QStringLiteral("启动 tarnel")), 3, 10000);
        QTest::qWait(500);
        QCOMPARE(next.state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "SingleInstanceTest.moc"
