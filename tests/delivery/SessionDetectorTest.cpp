#include "platform/ProcessRunner.h"
#include "delivery/SessionDetector.h"

#include <QProcess>
#include <QTcpServer>
#include <QTest>

#include <unistd.h>

Q_DECLARE_METATYPE(std::optional<SSHSession>)

namespace {
const QString ownConfig = QStringLiteral("/data/tarnel/ssh_config");

std::optional<SSHSession> session(std::optional<QString> user, QString host, std::optional<int> port = {})
{
    return SSHSession { std::move(user), std::move(host), port };
}
} // namespace

class SessionDetectorTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<std::optional<SSHSession>>("expected");
        const std::optional<SSHSession> none;
        QTest::newRow("host") << "ssh dev.example" << session({}, "dev.example");
        QTest::newRow("user at host") << "ssh anna@dev.example" << session("anna", "dev.example");
        QTest::newRow("l and p") << "ssh -l bob -p 2222 dev" << session("bob", "dev", 2222);
        QTest::newRow("attached values") << "ssh -lbob -p2222 dev" << session("bob", "dev", 2222);
        QTest::newRow("combined flags") << "/usr/bin/ssh -4tAv -p 2200 dev" << session({}, "dev", 2200);
        QTest::newRow("flags then value option") << "ssh -Ai ~/.ssh/id anna@dev" << session("anna", "dev");
        QTest::newRow("o user and port") << "ssh -o User=carl -oPort=2022 dev" << session("carl", "dev", 2022);
        QTest::newRow("o key case and blank") << "ssh -o \"user dora\" -o PORT=23 dev" << session("dora", "dev", 23);
        QTest::newRow("first value wins") << "ssh -l first -o User=second -p 1 -p 2 dev" << session("first", "dev", 1);
        QTest::newRow("user in destination after l") << "ssh -l eve frank@dev" << session("eve", "dev");
        QTest::newRow("options after host") << "ssh dev -p 2201 -l gil ls -la" << session("gil", "dev", 2201);
        QTest::newRow("url") << "ssh ssh://hana@dev.example:2222" << session("hana", "dev.example", 2222);
        QTest::newRow("ipv6") << "ssh ivan@[2001:db8::1]" << session("ivan", "2001:db8::1");
        QTest::newRow("ipv6 bare") << "ssh 2001:db8::1" << session({}, "2001:db8::1");
        QTest::newRow("ipv6 url port") << "ssh ssh://[2001:db8::1]:2222" << session({}, "2001:db8::1", 2222);
        QTest::newRow("double dash") << "ssh -p 2 -- dev uptime" << session({}, "dev", 2);
        QTest::newRow("jump is not the destination") << "ssh -J jump@bastion dev" << session({}, "dev");
        QTest::newRow("other config") << "ssh -F /home/u/.ssh/other dev" << session({}, "dev");
        QTest::newRow("N combined") << "ssh -fN dev" << none;
        QTest::newRow("W") << "ssh -W host:22 jump" << none;
        QTest::newRow("subsystem") << "ssh -s dev sftp" << none;
        QTest::newRow("own config") << "ssh -F /data/tarnel/ssh_config -- tarnel-x ping" << none;
        QTest::newRow("git") << "ssh -x git@github.com git-upload-pack 'x/y.git'" << none;
        QTest::newRow("no destination") << "ssh -p 22" << none;
        QTest::newRow("missing value") << "ssh dev -p" << none;
        QTest::newRow("N after host") << "ssh dev -N" << none;
    }
    void parse()
    {
        QFETCH(QString, line);
        QFETCH(std::optional<SSHSession>, expected);
        QStringList argv = QProcess::splitCommand(line);
        QCOMPARE(SessionDetector::parse(argv, ownConfig), expected);
    }

    void seesARealSession()
    {
        // A server that accepts but never answers keeps the client waiting for its greeting.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        const QString port = QString::number(silent.serverPort());
        ProcessRunner::CancelToken stop;
        QFuture<CommandResult> user = ProcessRunner::start(ProcessRunner::sshPath(),
            { QStringLiteral("-p"), port, QStringLiteral("-o"), QStringLiteral("User=zoe"), QStringLiteral("127.0.0.1") },
            std::nullopt, 30, stop);
        QFuture<CommandResult> ours = ProcessRunner::start(ProcessRunner::sshPath(),
            { QStringLiteral("-F"), QStringLiteral("/dev/null"), QStringLiteral("-p"), port, QStringLiteral("127.0.0.2") },
            std::nullopt, 30, stop);
        const SSHSession expected { QStringLiteral("zoe"), QStringLiteral("127.0.0.1"), port.toInt() };
        // Started by us: invisible when we are the "own" process, visible otherwise.
        QTRY_VERIFY_WITH_TIMEOUT(SessionDetector::activeSessions(0, QStringLiteral("/dev/null")).contains(expected), 5000);
        const auto all = SessionDetector::activeSessions(0, QStringLiteral("/dev/null"));
        QVERIFY(!std::any_of(all.begin(), all.end(), [](const SSHSession& s) { return s.host == QLatin1String("127.0.0.2"); }));
        QVERIFY(!SessionDetector::activeSessions(::getpid(), QStringLiteral("/dev/null")).contains(expected));
        stop.cancel();
        user.waitForFinished();
        ours.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(SessionDetectorTest)
#include "SessionDetectorTest.moc"
