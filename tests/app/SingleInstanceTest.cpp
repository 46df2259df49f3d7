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

    // `extra` is added to the environment; an empty value removes the variable.
    QProcess& launch(bool byAgent = false, const QHash<QString, QString>& extra = {})
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
        for (auto it = extra.begin(); it != extra.end(); ++it)
            it.value().isEmpty() ? env.remove(it.key()) : env.insert(it.key(), it.value());
        process->setProcessEnvironment(env);
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

    // With the data-folder override the per-user rule is off: one tarnel per folder still holds.
    void oneTarnelPerDataFolder()
    {
        const auto folder = [&](const char* name) {
            return QHash<QString, QString>{{QStringLiteral("TARNEL_DATA"), home.filePath(QString::fromLatin1(name))}};
        };
        QProcess& first = launch(false, folder("one"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(home.filePath(QStringLiteral("one/logs/tarnel.log"))), 10000);
        QProcess& same = launch(false, folder("one"));
        QVERIFY(same.waitForFinished(10000));
        QCOMPARE(same.exitCode(), 1);
        QCOMPARE(QString::fromUtf8(same.readAllStandardError()),
                 QStringLiteral("数据文件夹 %1 正被另一个 tarnel 使用，这次不启动。\n").arg(home.filePath(QStringLiteral("one"))));
        QProcess& other = launch(false, folder("two"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(home.filePath(QStringLiteral("two/logs/tarnel.log"))), 10000);
        QCOMPARE(first.state(), QProcess::Running);
        QCOMPARE(other.state(), QProcess::Running);
    }

    // No desktop: one line of its own and a plain failure, not Qt's abort.
    void withoutADisplayItSaysSo()
    {
        QProcess& run = launch(false, {{QStringLiteral("QT_QPA_PLATFORM"), QString()}});
        QVERIFY(run.waitForFinished(10000));
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), 1);
        QCOMPARE(QString::fromUtf8(run.readAllStandardError()),
                 QStringLiteral("tarnel 要在图形桌面（X11）里运行：这里没有显示器（没有设置 DISPLAY），请在桌面会话的终端里启动。\n"));
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "SingleInstanceTest.moc"
