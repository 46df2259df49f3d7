#include "delivery/ReceiverClient.h"
#include "delivery/SSHConfig.h"
#include "delivery/SSHKey.h"
#include "delivery/SharedConnection.h"
#include "state/Paths.h"
#include "support/ReceiverDestination.h"
#include "support/SshServerFixture.h"
#include "support/TempDataDir.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTest>
#include <QtConcurrent/QtConcurrentRun>

// Commands over the receiver destination's shared connection, asked for on the master's socket directly.
class SharedConnectionTest : public QObject {
    Q_OBJECT

    TempDataDir data;
    SshServerFixture sshd;
    Server server;

    QString socket() const { return SSHConfig::controlSocket(server, Paths::controlDirectory()); }

public:
    SharedConnectionTest() { data.usePrivateRuntimeDir(); }

private Q_SLOTS:
    void initTestCase()
    {
        if (const auto error = sshd.start())
            QSKIP(qPrintable(QStringLiteral("no sshd: ") + *error));
        const auto account = sshd.account(QStringLiteral("tnshare"));
        QVERIFY(account);
        const auto key = SSHKey::ensure(SSHKey::defaultPath(), SSHKey::comment(QStringLiteral("test")));
        const auto installed = ReceiverDestination::install(sshd, *account, key.value());
        QVERIFY2(installed.ok(), qPrintable(installed.failure()));
        server = installed.value();
        QVERIFY(SSHConfig::write({ server }).ok());
        QVERIFY(!SharedConnection::run(socket(), QStringLiteral("ping"), std::nullopt, 10, {}));
        QVERIFY(ReceiverClient::ping(server).result().ok()); // ssh makes the master
    }

    void cleanupTestCase() { ReceiverDestination::closeConnection(server); }

    // Whatever ssh would answer through the master, the socket answers alike: output, status, input whole.
    void answersAsSshDoes_data()
    {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<std::optional<QByteArray>>("input");
        const QByteArray shot(300 * 1024, 'x');
        QTest::newRow("ping") << QStringList { "ping" } << std::optional<QByteArray>();
        QTest::newRow("put") << QStringList { "put", "20240105-101010-1.png", QString::number(shot.size()) } << std::optional(shot);
        QTest::newRow("put cut short") << QStringList { "put", "20240105-101010-2.png", "9" } << std::optional(QByteArray("1234"));
    }
    void answersAsSshDoes()
    {
        QFETCH(QStringList, words);
        QFETCH(std::optional<QByteArray>, input);
        const QStringList args = ReceiverClient::arguments(server, words).value();
        const CommandResult viaSsh = ProcessRunner::run(ProcessRunner::sshPath(), args, input, 30);
        const auto shared = SharedConnection::run(socket(), args.mid(4).join(QLatin1Char(' ')), input, 30, {});
        QVERIFY(shared);
        QCOMPARE(shared->stdout, viaSsh.stdout);
        QCOMPARE(shared->status, viaSsh.status);
        QVERIFY(!viaSsh.stdout.isEmpty());
    }

    // A socket that is no master: nothing is run, the caller goes by ssh.
    void onlyAMasterIsAsked()
    {
        QLocalServer other;
        QVERIFY(other.listen(data.file(QStringLiteral("other.sock"))));
        QObject::connect(&other, &QLocalServer::newConnection, [&] {
            other.nextPendingConnection()->write(QByteArray("\0\0\0\x08\0\0\0\x01\0\0\0\x09", 12));
        });
        QFuture<std::optional<CommandResult>> asked = QtConcurrent::run(
            [path = other.fullServerName()] { return SharedConnection::run(path, QStringLiteral("ping"), std::nullopt, 10, {}); });
        QTRY_VERIFY(asked.isFinished());
        QVERIFY(!asked.result());
    }
};

QTEST_GUILESS_MAIN(SharedConnectionTest)
#include "SharedConnectionTest.moc"
