// The sheets' pure parts: the key comment, the alias kept in lower case, and the Include line run under sh.
#include "ui/devices/DeviceSheetsModel.h"

#include "support/ScriptHome.h"
#include "support/TempDataDir.h"

#include <QProcess>
#include <QtTest>

class DeviceSheetsModelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void keyComment_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("comment");
        QTest::newRow("empty") << "" << "tarnel@…";
        QTest::newRow("one word") << "ssh-ed25519 AAAA tarnel@den" << "tarnel@den";
        QTest::newRow("several words, doubled blanks") << "ssh-ed25519  AAAA  lee's  den   box" << "lee's den box";
    }
    void keyComment()
    {
        QFETCH(QString, line);
        QFETCH(QString, comment);
        QCOMPARE(DeviceSheetsModel::keyComment(line), comment);
    }

    void aliasKeepsLowerCaseAndTheCursor_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("cursor");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("after");
        QTest::newRow("cursor inside") << "qx-HOme" << 4 << "qx-home" << 4;
        // U+0130 becomes two characters in lower case: the cursor moves with the text before it.
        QTest::newRow("a letter that grows") << QStringLiteral("qx-\u0130x") << 4 << QStringLiteral("qx-i\u0307x") << 5;
    }
    void aliasKeepsLowerCaseAndTheCursor()
    {
        QFETCH(QString, typed);
        QFETCH(int, cursor);
        QFETCH(QString, text);
        QFETCH(int, after);
        QCOMPARE(DeviceSheetsModel::lowerAlias(typed, cursor), (DeviceSheetsModel::Typed{text, after}));
    }

    // The copied line, run by sh in a fresh home: Include on top, the old content below it untouched,
    // modes 700 and 600, and nothing else run whatever the path holds.
    void includeLineRunsUnderSh_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QByteArray>("before");
        QTest::newRow("blank and apostrophe") << "Lee's data" << QByteArray("Host gpu\n  HostName 10.0.0.9\n");
        QTest::newRow("shell words") << "$(touch pwned);`touch pwned2`'; touch pwned3; '" << QByteArray("# mine\n");
    }
    void includeLineRunsUnderSh()
    {
        QFETCH(QString, folder);
        QFETCH(QByteArray, before);
        ScriptHome home;
        if (!before.isEmpty())
            home.write(QStringLiteral(".ssh/config"), before);
        const QString path = home.file(folder + QStringLiteral("/ssh_config_devices"));
        home.write(folder + QStringLiteral("/ssh_config_devices"), "Host qx-den\n  HostName 127.0.0.7\n  User lee\n");
        const Outcome<QString> line = DeviceSheetsModel::includeCommand(path);
        QVERIFY(line.ok());
        const ScriptHome::Run run = home.run(line.value() + QLatin1Char('\n'), {{QStringLiteral("HOME"), home.path()}});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, QStringLiteral("好了：以后在任何终端直接 ssh qx-xxx\n"));
        for (const char* stray : {"pwned", "pwned2", "pwned3"})
            QVERIFY(!QFile::exists(home.file(QString::fromLatin1(stray))));
        const QByteArray config = readFile(home.file(QStringLiteral(".ssh/config")));
        QCOMPARE(config, "Include \"" + path.toUtf8() + "\"\n\n" + before);
        QCOMPARE(fileMode(home.file(QStringLiteral(".ssh/config"))), 0600);
        QCOMPARE(fileMode(home.file(QStringLiteral(".ssh"))), 0700);
        // ssh itself follows the Include to the device's block.
        QProcess ssh;
        ssh.start(QStringLiteral("ssh"), {QStringLiteral("-G"), QStringLiteral("-F"), home.file(QStringLiteral(".ssh/config")),
                                             QStringLiteral("qx-den")});
        QVERIFY(ssh.waitForFinished(10000));
        QVERIFY2(ssh.readAllStandardOutput().contains("hostname 127.0.0.7"), qPrintable(folder));
    }

    void pathsTheIncludeCannotNameGiveAMessage_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("double quote") << "/home/lee/\"x\"/ssh_config_devices";
        QTest::newRow("line feed") << "/home/lee/a\nHost */ssh_config_devices";
        QTest::newRow("tab") << "/home/lee/a\tb/ssh_config_devices";
    }
    void pathsTheIncludeCannotNameGiveAMessage()
    {
        QFETCH(QString, path);
        const Outcome<QString> line = DeviceSheetsModel::includeCommand(path);
        QVERIFY(!line.ok());
        QVERIFY(line.failure().contains(QStringLiteral("Include")));
    }
};

QTEST_GUILESS_MAIN(DeviceSheetsModelTest)
#include "DeviceSheetsModelTest.moc"
