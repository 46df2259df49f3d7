// Opening a command in a terminal: the script it writes, the terminal it picks and how it is started,
// and peer text that must not turn into commands.
#include "link/TerminalLauncher.h"
#include "state/Paths.h"
#include "support/TempDataDir.h"
#include "support/WaitUntil.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TerminalLauncherTest : public QObject {
    Q_OBJECT
    TempDataDir data;

    // A program in `dir` that writes its arguments, one a line, to `<dir>/<name>.argv`, and the folder it
    // started in to `<dir>/<name>.pwd`.
    static void recorder(const QString& dir, const QString& name)
    {
        const QString path = dir + QLatin1Char('/') + name;
        QVERIFY(writeWholeFile(path, QStringLiteral("#!/bin/sh\npwd > \"%1.pwd\"\n"
                                                    "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"%1.argv\"\n")
                                         .arg(path).toUtf8()));
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    }

    static QStringList recorded(const QString& file)
    {
        return QString::fromUtf8(readFile(file)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private Q_SLOTS:
    void scriptRunsExactlyTheCommand()
    {
        QTemporaryDir bin;
        recorder(bin.path(), QStringLiteral("ssh"));
        // A folder with blanks, quotes and a command substitution; a title that tries to end the comment line.
        const QString config = bin.path() + QStringLiteral("/my data/it's $(touch pwned1)/ssh_config_devices");
        const QStringList command{QStringLiteral("ssh"), QStringLiteral("-F"), config, QStringLiteral("qx-study")};
        const QString title = QStringLiteral("书房\ntouch pwned2\r\x1b[2J");
        QTemporaryDir none; // no terminal: the script is still written
        const Outcome<> opened = TerminalLauncher::open(command, QStringLiteral("qx-study"), title, {none.path()});
        QVERIFY(!opened.ok());
        QVERIFY2(opened.failure().startsWith(QStringLiteral("打不开终端（没找到终端程序？在终端里直接运行：ssh -F '")),
                 qPrintable(opened.failure()));

        const QString script = Paths::connectDirectory() + QStringLiteral("/qx-study.command");
        QCOMPARE(fileMode(script), 0755);
        QCOMPARE(fileMode(Paths::connectDirectory()), 0700);
        const QStringList lines = QString::fromUtf8(readFile(script)).split(QLatin1Char('\n'));
        QCOMPARE(lines.value(1), QStringLiteral("# tarnel 生成：在终端里连到「书房touch pwned2[2J」。可以删，下次点按钮会重新生成。"));

        QProcess run;
        run.setWorkingDirectory(bin.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"), bin.path() + QStringLiteral(":/usr/bin:/bin"));
        env.insert(QStringLiteral("TERM"), QStringLiteral("dumb"));
        run.setProcessEnvironment(env);
        run.start(script, {});
        QVERIFY(run.waitForFinished(10000));
        QCOMPARE(recorded(bin.filePath(QStringLiteral("ssh.argv"))), command.mid(1));
        QVERIFY(!QFile::exists(bin.filePath(QStringLiteral("pwned1"))) && !QFile::exists(bin.filePath(QStringLiteral("pwned2"))));
    }

    // ssh failing on its own (a session the link closed, 255) leaves the window open with the reason until
    // the user answers (a normal end closes it: see above).
    void aDroppedSessionKeepsItsWindow()
    {
        QTemporaryDir bin;
        const QString ssh = bin.filePath(QStringLiteral("ssh"));
        QVERIFY(writeWholeFile(ssh, "#!/bin/sh\necho 'Connection closed by UNKNOWN port 65535' >&2\nexit 255\n"));
        QVERIFY(QFile::setPermissions(ssh, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        QTemporaryDir none;
        TerminalLauncher::open({ssh, QStringLiteral("qx-study")}, QStringLiteral("qx-study"), QStringLiteral("书房"), {none.path()});
        QProcess run;
        run.start(Paths::connectDirectory() + QStringLiteral("/qx-study.command"), {});
        QByteArray shown;
        QVERIFY(waitUntil([&] { return (shown += run.readAll()).contains("按回车键关闭这个窗口"); }));
        QVERIFY2(QString::fromUtf8(shown).contains(QStringLiteral("到「书房」的 ssh 连接断了")), shown.constData());
        QCOMPARE(run.state(), QProcess::Running);
        run.write("\n");
        QVERIFY(run.waitForFinished(Limit::local));
        QCOMPARE(run.exitCode(), 255);
    }

    void aliasesOutsideThePatternAreRefused_data()
    {
        QTest::addColumn<QString>("alias");
        QTest::newRow("path") << QStringLiteral("qx-a/../../evil");
        QTest::newRow("shell") << QStringLiteral("qx-a;reboot");
        QTest::newRow("line break") << QStringLiteral("qx-a\n");
        QTest::newRow("empty") << QString();
    }
    void aliasesOutsideThePatternAreRefused()
    {
        QFETCH(QString, alias);
        const Outcome<> opened = TerminalLauncher::open({QStringLiteral("ssh"), alias}, alias, QStringLiteral("x"));
        QCOMPARE(opened.failure(), QStringLiteral("这台设备的别名不合规，没有打开终端"));
        const QStringList written = QDir(Paths::connectDirectory()).entryList(QDir::Files);
        QVERIFY2(written.isEmpty() || written == QStringList{"qx-study.command"}, qPrintable(written.join(' ')));
    }

    void terminalsArePickedInOrder_data()
    {
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QString>("terminalVariable");
        QTest::addColumn<QString>("picked");
        QTest::newRow("alternatives first") << QStringList{"xterm", "x-terminal-emulator", "gnome-terminal"} << "myterm" << "x-terminal-emulator";
        QTest::newRow("then $TERMINAL") << QStringList{"xterm", "myterm", "konsole"} << "myterm" << "myterm";
        QTest::newRow("$TERMINAL missing") << QStringList{"xterm", "konsole"} << "myterm" << "konsole";
        QTest::newRow("known ones in order") << QStringList{"xterm", "xfce4-terminal"} << "" << "xfce4-terminal";
    }
    void terminalsArePickedInOrder()
    {
        QFETCH(QStringList, present);
        QFETCH(QString, terminalVariable);
        QFETCH(QString, picked);
        QTemporaryDir bin;
        for (const QString& name : present)
            recorder(bin.path(), name);
        qputenv("TERMINAL", terminalVariable.toUtf8());
        const auto terminal = TerminalLauncher::find({bin.path()});
        qunsetenv("TERMINAL");
        QVERIFY(terminal);
        QCOMPARE(terminal->program, bin.filePath(picked));
    }

    void terminalStartsOnTheScript()
    {
        QTemporaryDir bin;
        recorder(bin.path(), QStringLiteral("x-terminal-emulator"));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bin.path().toUtf8() + ':' + path); // first on the search path
        // tarnel itself runs in some other folder (the build tree): the shell opens in the user's home.
        const QString before = QDir::currentPath();
        QTemporaryDir elsewhere;
        QVERIFY(QDir::setCurrent(elsewhere.path()));
        const Outcome<> opened = TerminalLauncher::open({QStringLiteral("ssh"), QStringLiteral("qx-lab")},
            QStringLiteral("qx-lab"), QStringLiteral("实验室\n"));
        QDir::setCurrent(before);
        qputenv("PATH", path);
        QVERIFY2(opened.ok(), qPrintable(opened.failure()));
        const QString argv = bin.filePath(QStringLiteral("x-terminal-emulator.argv"));
        QTRY_VERIFY_WITH_TIMEOUT(recorded(argv).size() == 4, 10000);
        QCOMPARE(recorded(argv), (QStringList{"-T", "实验室", "-e", Paths::connectDirectory() + "/qx-lab.command"}));
        QCOMPARE(recorded(bin.filePath(QStringLiteral("x-terminal-emulator.pwd"))),
                 QStringList{QDir(QDir::homePath()).canonicalPath()});

        QVERIFY(TerminalLauncher::openApp({bin.path()}));
        QTRY_VERIFY_WITH_TIMEOUT(recorded(argv).isEmpty() && QFile::exists(argv), 10000); // no arguments
        QTemporaryDir empty;
        QVERIFY(!TerminalLauncher::openApp({empty.path()}));
    }
};

QTEST_GUILESS_MAIN(TerminalLauncherTest)
#include "TerminalLauncherTest.moc"
