#include "servers/LoginProbe.h"

#include <QTest>

class LoginProbeTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void candidateOrder()
    {
        QCOMPARE(LoginProbe::candidates(std::nullopt, QStringLiteral("deploy"), QStringLiteral("alice")),
            (QStringList {"deploy", "alice", "root", "ubuntu", "debian", "ec2-user", "admin"}));
        // A name the address gives is the only one tried.
        QCOMPARE(LoginProbe::candidates(QStringLiteral("me"), QStringLiteral("deploy"), QStringLiteral("alice")),
            QStringList {"me"});
        // Repeats and unusable names drop out; the order stays.
        QCOMPARE(LoginProbe::candidates(std::nullopt, QStringLiteral("root"), QStringLiteral("-x")),
            (QStringList {"root", "ubuntu", "debian", "ec2-user", "admin"}));
    }

    void stopMessages()
    {
        CommandResult r;
        r.status = 255;
        r.stderr = QStringLiteral("ssh: Could not resolve hostname nowhere: Name or service not known\n");
        QCOMPARE(LoginProbe::stopMessage(r, "nowhere", 22), QStringLiteral("地址解析不了：nowhere"));
        r.stderr = QStringLiteral("Host key verification failed.\n");
        QCOMPARE(LoginProbe::stopMessage(r, "h", 22), QStringLiteral("服务器的主机钥匙和记录不一致，为安全起见没有连"));
        r.stderr = QStringLiteral("ssh: connect to host 127.0.0.1 port 1: Connection refused\n");
        QCOMPARE(LoginProbe::stopMessage(r, "127.0.0.1", 1),
            QStringLiteral("连不上 127.0.0.1:1（ssh: connect to host 127.0.0.1 port 1: Connection refused）"));
        r.stderr.clear();
        r.timedOut = true;
        QCOMPARE(LoginProbe::stopMessage(r, "h", 2222), QStringLiteral("连不上 h:2222（超时）"));
    }

    void refusedServerStopsAtTheFirstCandidate()
    {
        // Nothing listens on this loopback port: the probe stops with the connection message instead of
        // trying every name.
        Server server;
        server.host = QStringLiteral("127.0.0.1");
        server.port = 1;
        const auto result = LoginProbe::run(server, {QStringLiteral("a"), QStringLiteral("b")}, {});
        QVERIFY(!result.login.ok());
        QVERIFY(!result.login.needsPassword());
        QVERIFY2(result.login.failure().startsWith(QStringLiteral("连不上 127.0.0.1:1（")), qPrintable(result.login.failure()));
        QVERIFY(!result.record.ok);
        QCOMPARE(result.record.error, result.login.failure());
    }
};

QTEST_GUILESS_MAIN(LoginProbeTest)
#include "LoginProbeTest.moc"
