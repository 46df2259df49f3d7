#include "state/AtomicFile.h"
#include "state/Json.h"
#include "state/Store.h"
#include "support/ShotPile.h"
#include "support/TempDataDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <atomic>
#include <sys/stat.h>
#include <thread>

class StoreTest : public QObject {
    Q_OBJECT
    TempDataDir data;

private Q_SLOTS:
    void savedFilesArePrivateAndReadBack()
    {
        const QString dir = data.file(QStringLiteral("fresh"));
        Store store(dir);
        Settings s;
        s.dailyLimit = 100;
        store.saveSettings(s);
        QCOMPARE(store.loadSettings().dailyLimit, 100);
        QCOMPARE(fileMode(store.path(QStringLiteral("settings.json"))), 0600);
        QCOMPARE(fileMode(dir), 0700);
        QVERIFY(!store.loadSeq()); // missing file: nothing, and nothing logged as broken
    }

    void corruptFileIsKeptAsideAndDefaultsUsed()
    {
        const QString dir = data.file(QStringLiteral("corrupt"));
        QDir().mkpath(dir);
        Store store(dir);
        QVERIFY(writeWholeFile(store.path(QStringLiteral("state.json")), "{\"shots\": [ truncated"));
        QVERIFY(writeWholeFile(store.path(QStringLiteral("seq.json")), "{\"date\": \"20260101\"}")); // JSON, but missing n

        QVERIFY(store.loadState().shots.isEmpty());
        QVERIFY(!store.loadSeq());
        const QStringList aside = QDir(dir).entryList({QStringLiteral("*.broken-*")});
        QCOMPARE(aside.size(), 2);
        // The bad content survives intact.
        QVERIFY(readFile(dir + QLatin1Char('/') + aside.filter(QStringLiteral("state")).first()).contains("truncated"));
        QVERIFY(data.logLines().join(QLatin1Char('\n')).contains(QStringLiteral("state.json 读不了")));
    }

    // Something other than a regular file in a state file's place is set aside without being read.
    void onlyRegularFilesAreRead()
    {
        const QString dir = data.file(QStringLiteral("odd"));
        QDir().mkpath(dir);
        Store store(dir);
        QCOMPARE(::mkfifo(QFile::encodeName(store.path(QStringLiteral("state.json"))).constData(), 0600), 0);
        QDir().mkpath(store.path(QStringLiteral("settings.json")));
        QVERIFY(store.loadState().shots.isEmpty());
        QCOMPARE(store.loadSettings().dailyLimit, Settings{}.dailyLimit);
        QCOMPARE(QDir(dir).entryList({QStringLiteral("*.broken-*")}, QDir::AllEntries | QDir::System).size(), 2);
        QVERIFY(data.logLines().join(QLatin1Char('\n')).contains(QStringLiteral("state.json 读不了（不是普通文件）")));
    }

    // A state file grown too large (the window frames, say) is set aside without being read into memory.
    void oversizedFilesAreSetAsideUnread()
    {
        const QString dir = data.file(QStringLiteral("large"));
        QDir().mkpath(dir);
        Store store(dir);
        QFile frames(store.path(QStringLiteral("windows.json")));
        QVERIFY(frames.open(QIODevice::WriteOnly) && frames.write("{\"main\": {}}") > 0 && frames.resize(Store::maxFileBytes + 1));
        frames.close();
        QVERIFY(!store.read(QStringLiteral("windows.json")));
        QCOMPARE(QDir(dir).entryList({QStringLiteral("windows.json.broken-*")}).size(), 1);
        QVERIFY(data.logLines().join(QLatin1Char('\n')).contains(QStringLiteral("windows.json 读不了（文件太大）")));
    }

    // The state of a user who raised retention (20,000 shots on three servers, some 24 MB) reads back whole,
    // and each shot's record leaves room for what the widest retention keeps; only a larger file is set aside.
    void largestStateTheAppWritesIsReadBack()
    {
        const QString dir = data.file(QStringLiteral("kept"));
        Store store(dir);
        const QList<Shot> pile = ShotPile::write(store, 20000, QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch()), 24 * 300, 3);
        const qint64 size = QFileInfo(store.path(QStringLiteral("state.json"))).size();
        QVERIFY2(size <= pile.size() * StateFile::bytesPerShot / 2, qPrintable(QString::number(size)));
        const StateFile state = store.loadState();
        QCOMPARE(state.servers.size(), 3);
        QCOMPARE(state.shots, pile);
        QCOMPARE(QDir(dir).entryList({QStringLiteral("*.broken-*")}), QStringList());

        QFile grown(store.path(QStringLiteral("state.json")));
        QVERIFY(grown.open(QIODevice::ReadWrite) && grown.resize(StateFile::largestFileBytes + 1));
        grown.close();
        QVERIFY(store.loadState().shots.isEmpty());
        QCOMPARE(QDir(dir).entryList({QStringLiteral("state.json.broken-*")}).size(), 1);
    }

    // Writers on many threads at once (first connects to several servers): every write lands whole and
    // no temporary file is left behind.
    void concurrentWritesOfOneFileAllLand()
    {
        const QString path = data.file(QStringLiteral("shared.json"));
        std::atomic_int failures = 0;
        std::vector<std::thread> writers;
        for (char fill = 'a'; fill < 'a' + 8; ++fill)
            writers.emplace_back([&, fill] {
                for (int i = 0; i < 40; ++i)
                    if (!AtomicFile::write(path, QByteArray(4096, fill)).ok())
                        ++failures;
            });
        for (std::thread& writer : writers)
            writer.join();
        QCOMPARE(failures.load(), 0);
        const QByteArray content = readFile(path);
        QCOMPARE(content, QByteArray(4096, content.isEmpty() ? 0 : content.front()));
        QCOMPARE(QDir(data.path()).entryList({QStringLiteral("shared.json.tmp*")}), QStringList());
    }

    void writeFailureIsReportedNotThrown()
    {
        QVERIFY(!AtomicFile::write(QStringLiteral("/proc/definitely/not/here"), "x").ok());
        Store store(QStringLiteral("/proc/tarnel-cannot-exist"));
        store.saveSettings(Settings{}); // logged, not fatal
        QVERIFY(data.logLines().join(QLatin1Char('\n')).contains(QStringLiteral("settings.json 没写进去")));
    }
};

QTEST_GUILESS_MAIN(StoreTest)
#include "StoreTest.moc"
