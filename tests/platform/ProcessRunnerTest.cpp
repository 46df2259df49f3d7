#include "platform/ProcessRunner.h"

#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {
CommandResult sh(const QString& script, const std::optional<QByteArray>& input = std::nullopt,
    double timeout = 10, const ProcessRunner::CancelToken& cancel = {})
{
    return ProcessRunner::run(QStringLiteral("/bin/sh"), { QStringLiteral("-c"), script }, input, timeout, cancel);
}

// Gone, or a zombie nobody reaped yet: either way no longer running.
bool processRunning(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close > 0 && text.mid(close + 2, 1) != "Z";
}
} // namespace

class ProcessRunnerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void passesArgumentsExactly()
    {
        const QStringList args { QStringLiteral("a b"), QString(), QStringLiteral("--"), QStringLiteral("$HOME;`x`"),
            QStringLiteral("截图") };
        const CommandResult r = ProcessRunner::run(QStringLiteral("/usr/bin/printf"),
            QStringList { QStringLiteral("[%s]\n") } + args, std::nullopt, 5);
        QCOMPARE(r.status, 0);
        QCOMPARE(r.stdout, QStringLiteral("[a b]\n[]\n[--]\n[$HOME;`x`]\n[截图]\n"));
    }

    void exitStatusAndSignals()
    {
        QCOMPARE(sh(QStringLiteral("exit 3")).status, 3);
        QCOMPARE(sh(QStringLiteral("kill -9 $$")).status, 128 + SIGKILL);
        const CommandResult err = sh(QStringLiteral("echo out; echo 错误 >&2; printf '\\377'"));
        QCOMPARE(err.stderr, QStringLiteral("错误\n"));
        QCOMPARE(err.stdout, QStringLiteral("out\n") + QChar(QChar::ReplacementCharacter));
    }

    void startFailureIsAValue()
    {
        const CommandResult r = ProcessRunner::run(QStringLiteral("/nonexistent/prog"), {}, std::nullopt, 5);
        QCOMPARE(r.status, -1);
        QVERIFY2(r.stderr.startsWith(QStringLiteral("无法启动 /nonexistent/prog：")), qPrintable(r.stderr));
    }

    // A bare name is found in PATH; nothing is taken from the current folder.
    void programsComeFromPathOrAnAbsolutePath_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("runs");
        QTest::newRow("bare name in PATH") << "sh" << true;
        QTest::newRow("absolute") << "/bin/sh" << true;
        QTest::newRow("only in the current folder") << "tarnel-planted" << false;
        QTest::newRow("relative path") << "./tarnel-planted" << false;
    }
    void programsComeFromPathOrAnAbsolutePath()
    {
        QFETCH(QString, program);
        QFETCH(bool, runs);
        QTemporaryDir here;
        const QString planted = here.filePath(QStringLiteral("tarnel-planted"));
        QFile script(planted);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\ntouch \"$0.ran\"\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString previous = QDir::currentPath();
        QDir::setCurrent(here.path());
        const CommandResult r = ProcessRunner::run(program, {QStringLiteral("-c"), QStringLiteral("exit 0")}, std::nullopt, 10);
        QDir::setCurrent(previous);
        QCOMPARE(r.succeeded(), runs);
        QVERIFY(!QFile::exists(planted + QStringLiteral(".ran")));
    }

    // A child that prints without end is stopped once it passed what is kept, and the run fails.
    void outputIsCapped_data()
    {
        QTest::addColumn<QString>("script");
        QTest::newRow("a reply, then a flood") << "echo ok; head -c 3000000 /dev/zero; exit 0";
        QTest::newRow("endless") << "yes";
        QTest::newRow("endless on stderr") << "yes >&2";
    }
    void outputIsCapped()
    {
        QFETCH(QString, script);
        const CommandResult r = sh(script, std::nullopt, 20);
        QVERIFY(r.overflowed);
        QVERIFY(!r.timedOut);
        QVERIFY(!r.succeeded());
        QVERIFY(r.stdout.size() <= 1 << 20 && r.stderr.size() <= 1 << 20);
    }

    void standardInput()
    {
        // No input: the child sees end of file at once instead of waiting on ours.
        QCOMPARE(sh(QStringLiteral("wc -c"), std::nullopt, 5).stdout.trimmed(), QStringLiteral("0"));
        QCOMPARE(sh(QStringLiteral("wc -c"), QByteArray(), 5).stdout.trimmed(), QStringLiteral("0"));
        // Input and output far beyond the pipes' buffers at the same time must not deadlock.
        QByteArray big(900 * 1024, '\0');
        for (qsizetype i = 0; i < big.size(); ++i)
            big[i] = char('a' + i % 26);
        const CommandResult echo = sh(QStringLiteral("cat; cat /dev/null >&2"), big, 20);
        QCOMPARE(echo.status, 0);
        QCOMPARE(echo.stdout.size(), big.size());
        QVERIFY(echo.stdout.toLatin1() == big);
        // A child that does not read its input: no SIGPIPE for us, its own status comes back.
        QCOMPARE(sh(QStringLiteral("exit 4"), big, 10).status, 4);
    }

    void childStartsClean()
    {
        qputenv("TARNEL_RUNNER_PROBE", "seen");
        const CommandResult r = sh(QStringLiteral("echo $TARNEL_RUNNER_PROBE; grep -E '^(SigBlk|SigIgn)' /proc/self/status;"
                                                  " ls /proc/self/fd | wc -l"));
        const QStringList lines = r.stdout.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.value(0), QStringLiteral("seen"));
        QCOMPARE(lines.value(1), QStringLiteral("SigBlk:\t0000000000000000"));
        // The standard signals are at their defaults (glibc keeps a few real-time ones for itself).
        QCOMPARE(lines.value(2).section(QLatin1Char('\t'), 1).toULongLong(nullptr, 16) & 0x7fffffffULL, 0ULL);
        // stdin, stdout, stderr and the one ls opens for the listing.
        QVERIFY2(lines.value(3).toInt() <= 4, qPrintable(lines.value(3)));
    }

    void timeOutKillsTheWholeGroup()
    {
        QElapsedTimer clock;
        clock.start();
        const CommandResult r = sh(QStringLiteral("sleep 30 & echo $!; wait"), std::nullopt, 0.3);
        QVERIFY(clock.elapsed() < 2000);
        QVERIFY(r.timedOut);
        QVERIFY(!r.cancelled);
        QCOMPARE(r.status, 128 + SIGTERM);
        const qint64 grandchild = r.stdout.trimmed().toLongLong();
        QVERIFY(grandchild > 0);
        QTRY_VERIFY_WITH_TIMEOUT(!processRunning(grandchild), 2000);
    }

    void stubbornChildGetsKilled()
    {
        QElapsedTimer clock;
        clock.start();
        const CommandResult r = sh(QStringLiteral("trap '' TERM; sleep 30"), std::nullopt, 0.2);
        QVERIFY(r.timedOut);
        QCOMPARE(r.status, 128 + SIGKILL);
        QVERIFY(clock.elapsed() >= 2000 && clock.elapsed() < 5000);
    }

    void cancel()
    {
        ProcessRunner::CancelToken token;
        QFuture<CommandResult> future =
            ProcessRunner::start(QStringLiteral("/bin/sleep"), { QStringLiteral("30") }, std::nullopt, 60, token);
        QTest::qWait(200);
        QElapsedTimer clock;
        clock.start();
        token.cancel();
        future.waitForFinished();
        QVERIFY(clock.elapsed() < 1000);
        QVERIFY(future.result().cancelled);
        QVERIFY(!future.result().timedOut);
    }

    void daemonKeepingThePipeDoesNotHoldUsUp()
    {
        QElapsedTimer clock;
        clock.start();
        const CommandResult r = sh(QStringLiteral("(sleep 3 &); echo ready"), std::nullopt, 10);
        QCOMPARE(r.stdout, QStringLiteral("ready\n"));
        QVERIFY(clock.elapsed() < 1500);
    }
};

QTEST_GUILESS_MAIN(ProcessRunnerTest)
#include "ProcessRunnerTest.moc"
