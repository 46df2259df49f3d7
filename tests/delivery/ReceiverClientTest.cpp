#include "delivery/ReceiverClient.h"
#include "delivery/SSHConfig.h"
#include "delivery/SSHKey.h"
#include "state/AtomicFile.h"
#include "state/Paths.h"
#include "support/ReceiverDestination.h"
#include "support/SshServerFixture.h"
#include "support/TempDataDir.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>

#include <sys/mount.h>
#include <sys/stat.h>

namespace {
template <class T>
T wait(QFuture<T> future)
{
    future.waitForFinished();
    return future.result();
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, '\0');
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

// Every file below a folder, relative to it.
QStringList filesBelow(const QString& dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next().mid(dir.size() + 1);
    files.sort();
    return files;
}
} // namespace

class ReceiverClientTest : public QObject {
    Q_OBJECT

    TempDataDir data;
    SshServerFixture sshd;
    std::optional<SshServerFixture::Account> account;
    Server server;

    QString shots() const { return *server.setup.remoteDirAbsolute + QStringLiteral("/shots"); }

    QString localFile(const QString& name, const QByteArray& bytes)
    {
        return AtomicFile::write(data.file(name), bytes).ok() ? data.file(name) : QString();
    }

    // A command sent as it is, past the client's own checks.
    CommandResult raw(const QStringList& words, const std::optional<QByteArray>& input = std::nullopt)
    {
        return ProcessRunner::run(ProcessRunner::sshPath(), ReceiverClient::arguments(server, words).value(), input, 30);
    }

    void placeShot(const QString& name, qsizetype size, const QString& touchDate)
    {
        const QString path = shots() + QLatin1Char('/') + name;
        QVERIFY(sshd.writeFile(*account, path, QByteArray(size, 'x'), 0600));
        QCOMPARE(ProcessRunner::run(QStringLiteral("/usr/bin/touch"), { QStringLiteral("-d"), touchDate, path }, {}, 5).status, 0);
    }

public:
    ReceiverClientTest() { data.usePrivateRuntimeDir(); }

private Q_SLOTS:
    void initTestCase()
    {
        if (const auto error = sshd.start())
            QSKIP(qPrintable(QStringLiteral("no sshd: ") + *error));
        account = sshd.account(QStringLiteral("tnrecv"));
        QVERIFY(account);
        const auto key = SSHKey::ensure(SSHKey::defaultPath(), SSHKey::comment(QStringLiteral("test")));
        QVERIFY(key.ok());
        const auto installed = ReceiverDestination::install(sshd, *account, key.value());
        QVERIFY2(installed.ok(), qPrintable(installed.failure()));
        server = installed.value();
        QVERIFY(SSHConfig::write({ server }).ok());
    }

    void cleanupTestCase() { ReceiverDestination::closeConnection(server); }

    void pingSharesTheConnection()
    {
        const auto pong = wait(ReceiverClient::ping(server));
        QVERIFY2(pong.ok(), qPrintable(pong.failure() + sshd.log().right(500)));
        QCOMPARE(pong.value().version, server.setup.receiverVersion.value());
        QCOMPARE(pong.value().base, *server.setup.remoteDirAbsolute);
        QVERIFY(QFileInfo(shots()).isDir());
        // The first command left a master behind for the next ones.
        const QStringList sockets = QDir(Paths::controlDirectory()).entryList({ QStringLiteral("cm-*") }, QDir::System);
        QCOMPARE(sockets.size(), 1);
        QVERIFY(wait(ReceiverClient::ping(server)).ok());
    }

    void putArrivesWholeAndReplacesInPlace()
    {
        const QString name = QStringLiteral("20240105-101010-1.png");
        const QByteArray first = randomBytes(700 * 1024);
        const auto sent = wait(ReceiverClient::put(server, localFile(QStringLiteral("a.png"), first), name));
        QVERIFY2(sent.ok(), qPrintable(sent.failure()));
        QCOMPARE(sent.value(), ReceiverClient::remotePath(server, name).value());
        QCOMPARE(readFile(sent.value()), first);
        QCOMPARE(QFileInfo(sent.value()).ownerId(), account->uid);

        const QByteArray second = randomBytes(1000);
        QVERIFY(wait(ReceiverClient::put(server, localFile(QStringLiteral("b.png"), second), name)).ok());
        QCOMPARE(readFile(sent.value()), second);
        QCOMPARE(filesBelow(shots()), QStringList { name });
    }

    void rmCountsWhatWasThere()
    {
        const QString name = QStringLiteral("20240105-101010-2.jpg");
        QVERIFY(wait(ReceiverClient::put(server, localFile(QStringLiteral("c.jpg"), "jpeg"), name)).ok());
        const auto removed = wait(ReceiverClient::rm(server, { name, QStringLiteral("20240105-101010-9.png") }));
        QVERIFY2(removed.ok(), qPrintable(removed.failure()));
        QCOMPARE(removed.value(), 1);
        QVERIFY(!QFile::exists(shots() + QLatin1Char('/') + name));
        QVERIFY(!wait(ReceiverClient::rm(server, { QStringLiteral("../x.png") })).ok());
    }

    void purgeByAgeThenBySize()
    {
        for (const QString& n : filesBelow(shots()))
            QFile::remove(shots() + QLatin1Char('/') + n);
        placeShot(QStringLiteral("20240101-000000-1.png"), 1000, QStringLiteral("3 days ago"));
        placeShot(QStringLiteral("20240102-000000-1.png"), 1000, QStringLiteral("5 hours ago"));
        placeShot(QStringLiteral("20240102-000000-2.png"), 1000, QStringLiteral("4 hours ago"));
        placeShot(QStringLiteral("20240102-000000-3.jpg"), 1000, QStringLiteral("3 hours ago"));
        placeShot(QStringLiteral("notes.txt"), 10, QStringLiteral("3 days ago")); // not a shot: never touched
        placeShot(QStringLiteral(".20240102-000000-4.png.77.part"), 10, QStringLiteral("2 hours ago"));

        auto purged = wait(ReceiverClient::purge(server, 24, 1'000'000));
        QVERIFY2(purged.ok(), qPrintable(purged.failure()));
        QCOMPARE(purged.value(), 1);
        purged = wait(ReceiverClient::purge(server, 24, 2000));
        QCOMPARE(purged.value(), 1);
        QCOMPARE(filesBelow(shots()), (QStringList { QStringLiteral("20240102-000000-2.png"),
                                          QStringLiteral("20240102-000000-3.jpg"), QStringLiteral("notes.txt") }));
        QCOMPARE(wait(ReceiverClient::purge(server, 24, 0)).value(), 2);
    }

    void hostileRequestsAreRefused_data()
    {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("reply");
        const QString good = QStringLiteral("20240105-101010-3.png");
        QTest::newRow("parent dir") << QStringList { "put", "../../evil.png", "5" } << QByteArray("12345") << "err badname";
        QTest::newRow("slash") << QStringList { "put", "20240105-101010-3.png/x", "5" } << QByteArray("12345") << "err badname";
        QTest::newRow("five digits") << QStringList { "put", "20240105-101010-12345.png", "5" } << QByteArray("12345") << "err badname";
        QTest::newRow("other type") << QStringList { "put", "20240105-101010-1.sh", "5" } << QByteArray("12345") << "err badname";
        QTest::newRow("glob") << QStringList { "rm", "*" } << QByteArray() << "err badname";
        QTest::newRow("size zero") << QStringList { "put", good, "0" } << QByteArray() << "err badsize";
        QTest::newRow("size too big") << QStringList { "put", good, "20000001" } << QByteArray("1") << "err badsize";
        QTest::newRow("size not a number") << QStringList { "put", good, "5x" } << QByteArray("12345") << "err badsize";
        QTest::newRow("stdin cut") << QStringList { "put", good, "100000" } << QByteArray(99999, 'z') << "err short";
        QTest::newRow("command injection") << QStringList { "put", good, "5;touch", "/tmp/tarnel-pwned" } << QByteArray("12345") << "err badarg";
        QTest::newRow("substitution") << QStringList { "put", "$(touch${IFS}/tmp/tarnel-pwned).png", "5" } << QByteArray("12345") << "err badname";
        QTest::newRow("purge bad") << QStringList { "purge", "1h", "5" } << QByteArray() << "err badarg";
        QTest::newRow("unknown") << QStringList { "cat", "/etc/passwd" } << QByteArray() << "err unknown";
        QTest::newRow("empty") << QStringList {} << QByteArray() << "err unknown";
    }
    void hostileRequestsAreRefused()
    {
        QFETCH(QStringList, words);
        QFETCH(QByteArray, input);
        QFETCH(QString, reply);
        const QStringList before = filesBelow(account->home);
        const CommandResult r = raw(words, input);
        QCOMPARE(r.stdout.trimmed(), reply);
        QCOMPARE(r.status, 1);
        QCOMPARE(filesBelow(account->home), before);
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/tarnel-pwned")));
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/evil.png")));
        QCOMPARE(ReceiverClient::failureMessage(r, server), QStringLiteral("接收器报错：") + reply.mid(4));
    }

    void fullDiskLeavesNothing()
    {
        if (!SshServerFixture::canCreateAccounts())
            QSKIP("mounting a small file system needs root");
        if (::mount("tarnel-test", QFile::encodeName(shots()).constData(), "tmpfs", 0, "size=64k,mode=0700") != 0)
            QSKIP("cannot mount a tmpfs here");
        ::chown(QFile::encodeName(shots()).constData(), account->uid, account->gid);
        const auto sent = wait(ReceiverClient::put(
            server, localFile(QStringLiteral("big.png"), randomBytes(512 * 1024)), QStringLiteral("20240105-101010-5.png")));
        const QStringList left = filesBelow(shots());
        ::umount(QFile::encodeName(shots()).constData());
        QVERIFY(!sent.ok());
        QCOMPARE(sent.failure(), QStringLiteral("接收器报错：write"));
        QCOMPARE(left, QStringList());
    }

    void clientRefusesBeforeSending()
    {
        Server bare = server;
        bare.setup.remoteDirAbsolute.reset();
        QCOMPARE(ReceiverClient::remotePath(bare, QStringLiteral("x.png")), std::nullopt);
        QVERIFY(!ReceiverClient::arguments(bare, { QStringLiteral("ping") }).ok());
        bare.setup.remoteDirAbsolute = QStringLiteral("/home/a b");
        QVERIFY(!ReceiverClient::arguments(bare, { QStringLiteral("ping") }).ok());
        const auto badName = wait(ReceiverClient::put(server, localFile(QStringLiteral("n.png"), "x"), QStringLiteral("a;b.png")));
        QVERIFY(!badName.ok());
        const auto missing = wait(ReceiverClient::put(server, data.file(QStringLiteral("none.png")), QStringLiteral("20240105-101010-6.png")));
        QVERIFY(missing.failure().startsWith(QStringLiteral("读不了本机的截图文件")));
    }

    void unresolvableHost()
    {
        Server nowhere = server;
        nowhere.id = QUuid::createUuid();
        nowhere.host = QStringLiteral("nowhere.invalid");
        QVERIFY(SSHConfig::write({ server, nowhere }).ok());
        const auto pong = wait(ReceiverClient::ping(nowhere));
        QCOMPARE(pong.failure(), QStringLiteral("地址解析不了：nowhere.invalid"));
        // The name ssh failed on is named, not the one the record holds by now.
        Server resolved = nowhere;
        resolved.host = QStringLiteral("127.0.0.1");
        QCOMPARE(wait(ReceiverClient::ping(resolved)).failure(), QStringLiteral("地址解析不了：nowhere.invalid"));
    }

    void changedHostKeyIsRefused()
    {
        sshd.stop();
        sshd.replaceHostKey();
        QVERIFY(!sshd.start());
        ReceiverDestination::closeConnection(server);
        const auto pong = wait(ReceiverClient::ping(server));
        QCOMPARE(pong.failure(), QStringLiteral("服务器的主机钥匙变了，为安全起见没有连"));
    }
};

QTEST_GUILESS_MAIN(ReceiverClientTest)
#include "ReceiverClientTest.moc"
