#include "servers/SshLookup.h"

#include <QTest>

class SshLookupTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsWhatSshResolved()
    {
        const auto resolved = SshLookup::parse(QStringLiteral(
            "user deploy\nhostname 10.1.2.3\nport 2200\nproxyjump jump@bastion:22\n"
            "identityfile ~/.ssh/id_ed25519\nidentityfile ~/.ssh/work\nbatchmode no\n"));
        QVERIFY(resolved);
        QCOMPARE(resolved->user, QStringLiteral("deploy"));
        QCOMPARE(resolved->hostname, QStringLiteral("10.1.2.3"));
        QCOMPARE(resolved->port, 2200);
        QCOMPARE(resolved->proxyJump, QStringLiteral("jump@bastion:22"));
        QCOMPARE(resolved->identityFiles.size(), 2);
        QVERIFY(!SshLookup::parse(QStringLiteral("hostname h\nproxyjump none\nport 22\n"))->proxyJump);
        QVERIFY(!SshLookup::parse(QString()));
        QVERIFY(!SshLookup::parse(QStringLiteral("hostname h\nport 0\n")));
    }

    void realSshReadsItsOwnDefaults()
    {
        // No Host block matches this name anywhere: ssh gives the name back and its defaults.
        const auto resolved = SshLookup::run(QStringLiteral("tarnel-test-nowhere.invalid"), 2022, QStringLiteral("someone"));
        QVERIFY(resolved);
        QCOMPARE(resolved->hostname, QStringLiteral("tarnel-test-nowhere.invalid"));
        QCOMPARE(resolved->port, 2022);
        QCOMPARE(resolved->user, QStringLiteral("someone"));
        QVERIFY(!SshLookup::run(QStringLiteral("-oProxyCommand=x"), std::nullopt, std::nullopt));
        QVERIFY(!SshLookup::run(QStringLiteral("host"), std::nullopt, QStringLiteral("-l")));
    }
};

QTEST_GUILESS_MAIN(SshLookupTest)
#include "SshLookupTest.moc"
