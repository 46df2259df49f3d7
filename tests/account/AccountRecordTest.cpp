// The saved sign-in in account.json.
#include "account/AccountRecord.h"
#include "support/TempDataDir.h"

#include <QDir>
#include <QJsonDocument>
#include <QtTest>
#include <sys/stat.h>

class AccountRecordTest : public QObject {
    Q_OBJECT
    TempDataDir data;

private Q_SLOTS:
    void cleanup() { AccountRecord::remove(); }

    void savesCompactPrivateJson()
    {
        const mode_t old = ::umask(0); // a permissive umask must not widen the file
        const AccountRecord record{QStringLiteral("alice"), QStringLiteral("爱丽丝"), QStringLiteral("tok"), std::nullopt};
        QVERIFY(record.save().ok());
        ::umask(old);

        const QByteArray bytes = readFile(AccountRecord::filePath());
        QCOMPARE(bytes, QByteArray(R"({"displayName":"爱丽丝","token":"tok","username":"alice"})"));
        QCOMPARE(fileMode(AccountRecord::filePath()), 0600);
        QCOMPARE(QDir(data.path()).entryList(QDir::Files), QStringList{QStringLiteral("account.json")});

        AccountRecord withRole = record;
        withRole.role = QStringLiteral("admin");
        QVERIFY(withRole.save().ok());
        QVERIFY(readFile(AccountRecord::filePath()).contains(R"("role":"admin")"));
        QCOMPARE(AccountRecord::load(), withRole);
    }

    void savesIntoAMissingDataDirectory()
    {
        QVERIFY(QDir(data.path()).removeRecursively());
        const AccountRecord record{QStringLiteral("a"), QStringLiteral("A"), QStringLiteral("t"), std::nullopt};
        QVERIFY(record.save().ok());
        QCOMPARE(fileMode(data.path()), 0700);
        QCOMPARE(AccountRecord::load(), record);
    }

    void unusableFilesReadAsSignedOut_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not json") << QByteArray("{oops");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("array") << QByteArray("[]");
        QTest::newRow("no token") << QByteArray(R"({"username":"a","displayName":"A"})");
        QTest::newRow("mistyped role") << QByteArray(R"({"username":"a","displayName":"A","token":"t","role":3})");
    }
    void unusableFilesReadAsSignedOut()
    {
        QFETCH(QByteArray, content);
        QFile file(AccountRecord::filePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        QVERIFY(!AccountRecord::load());
        // Kept aside and logged like the other state files, so a later sign-in cannot overwrite it unseen.
        QVERIFY(!QFile::exists(AccountRecord::filePath()));
        const QStringList aside = QDir(data.path()).entryList({QStringLiteral("account.json.broken-*")});
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readFile(data.file(aside.first())), content);
        QVERIFY(data.logLines().last().contains(QStringLiteral("account.json 读不了")));
        QVERIFY(QFile::remove(data.file(aside.first())));
    }

    void removeIsQuietWhenThereIsNothing()
    {
        const qsizetype logged = data.logLines().size();
        QVERIFY(!QFile::exists(AccountRecord::filePath()));
        AccountRecord::remove();
        QVERIFY(!AccountRecord::load());
        QCOMPARE(data.logLines().size(), logged);
    }
};

QTEST_GUILESS_MAIN(AccountRecordTest)
#include "AccountRecordTest.moc"
