#include "capture/ImageStore.h"
#include "capture/ShotStore.h"
#include "state/Json.h"
#include "support/FakeClock.h"
#include "support/TempDataDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QTest>
#include <memory>
#include <sys/time.h>

namespace {
// A screenshot-like picture: flat areas, some text-like strokes, and a seed that makes it distinct.
QImage screenshot(int w, int h, int seed)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(QColor(240, 240, 240));
    QPainter p(&img);
    QRandomGenerator rng{quint32(seed)};
    for (int i = 0; i < 40; ++i) {
        p.fillRect(rng.bounded(w), rng.bounded(h), rng.bounded(1, w / 3), rng.bounded(1, h / 8),
                   QColor::fromRgb(rng.generate()));
    }
    return img;
}

QImage noise(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    QRandomGenerator rng{7u};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, rng.generate() | 0xff000000u);
    return img;
}

void setModified(const QString& path, const QDateTime& when)
{
    const timeval times[2] = {{time_t(when.toSecsSinceEpoch()), 0}, {time_t(when.toSecsSinceEpoch()), 0}};
    ::utimes(QFile::encodeName(path).constData(), times);
}
} // namespace

class ShotStoreTest : public QObject {
    Q_OBJECT
    TempDataDir data;
    std::unique_ptr<FakeClock> clock;
    std::unique_ptr<Store> store;
    std::unique_ptr<StateStore> state;
    std::unique_ptr<Sequencer> sequencer;
    std::unique_ptr<ShotStore> shots;
    Settings settings;
    int run = 0;

    QDateTime now() const { return clock->now(); }

    void open()
    {
        shots.reset();
        sequencer.reset();
        state.reset();
        sequencer = std::make_unique<Sequencer>(*store);
        state = std::make_unique<StateStore>(*store);
        shots = std::make_unique<ShotStore>(*state, *sequencer, store->path(QStringLiteral("shots")));
    }

    ShotStore::Result take(const QImage& image, qint64 afterSeconds = 5, bool hasServer = true)
    {
        clock->advance(afterSeconds);
        return shots->handle(image, settings, hasServer, now());
    }

private Q_SLOTS:
    void init()
    {
        clock = std::make_unique<FakeClock>(QDateTime(QDate(2026, 10, 18), QTime(15, 30, 12)));
        store = std::make_unique<Store>(data.file(QStringLiteral("run%1").arg(++run)));
        settings = Settings{};
        open();
    }

    void storesNumberedFilesInDayFolders()
    {
        const auto r = take(screenshot(800, 600, 1), 0);
        QCOMPARE(r.outcome, ShotStore::Outcome::stored);
        QCOMPARE(r.shotName, QStringLiteral("20261018-153012-1.png"));
        const Shot s = *shots->shot(r.shotName);
        QCOMPARE(s.localPath, store->path(QStringLiteral("shots/2026-10-18/20261018-153012-1.png")));
        QCOMPARE(fileMode(s.localPath), 0600);
        QCOMPARE(QImage(s.localPath).size(), QSize(800, 600));
        QCOMPARE(s.hash, ImageStore::md5Hex(readFile(s.localPath)));
        QVERIFY(r.logText.startsWith(QStringLiteral("截图1 已存（800×600，PNG，")));
        QCOMPARE(take(screenshot(800, 600, 2), 200).shotName, QStringLiteral("20261018-153332-2.png"));
        // The state file on disk holds both, oldest first.
        QCOMPARE(store->loadState().shots.size(), 2);
        QCOMPARE(shots->todayCount(now()), 2);
        QCOMPARE(shots->todayCount(now().addDays(1)), 0);
    }

    void refusals()
    {
        shots->setPaused(true);
        QCOMPARE(take(screenshot(100, 100, 1)).refusal, ShotStore::Refusal::paused);
        shots->setPaused(false);

        settings.saveWhenNoServer = false;
        QCOMPARE(take(screenshot(100, 100, 1), 5, false).refusal, ShotStore::Refusal::noDestination);
        QCOMPARE(take(screenshot(100, 100, 1), 5, true).outcome, ShotStore::Outcome::stored);

        // Within a second of the last accepted image.
        clock->set(now().addMSecs(600));
        QCOMPARE(shots->handle(screenshot(100, 100, 2), settings, true, now()).refusal, ShotStore::Refusal::tooSoon);

        settings.dailyLimit = 2;
        QCOMPARE(take(screenshot(300, 100, 3)).outcome, ShotStore::Outcome::stored);
        const auto limit = take(screenshot(300, 200, 4));
        QCOMPARE(limit.refusal, ShotStore::Refusal::dailyLimit);
        QCOMPARE(limit.flashText, QStringLiteral("今天已经 2 张了（每天最多 2 张），没存"));

        settings.dailyLimit = 500;
        settings.maxShotBytes = 20'000; // noise compresses badly as PNG and as JPEG
        const auto big = take(noise(400, 400));
        QCOMPARE(big.refusal, ShotStore::Refusal::tooLarge);
        QCOMPARE(big.flashText, QStringLiteral("截图太大：压缩后还超过 0.02 MB，没存"));
        QCOMPARE(shots->shots().size(), 2);
    }

    void largeImagesAreReducedAndFallBackToJpeg()
    {
        settings.maxLongSide = 1600;
        settings.maxShotBytes = 1'000'000;
        const auto r = take(noise(2400, 1200));
        QCOMPARE(r.outcome, ShotStore::Outcome::stored);
        QVERIFY(r.shotName.endsWith(QStringLiteral(".jpg")));
        const Shot s = *shots->shot(r.shotName);
        QCOMPARE(QSize(s.w, s.h), QSize(1600, 800));
        QVERIFY(QFileInfo(s.localPath).size() <= 1'000'000);
    }

    void duplicateAndUpdateInPlace()
    {
        const QImage first = screenshot(640, 480, 1);
        const auto r1 = take(first);
        const QUuid server = QUuid::createUuid();
        shots->setUpload(r1.shotName, server, Upload{Upload::State::done, QStringLiteral("/r/x"), {}, now()});

        QCOMPARE(take(first).outcome, ShotStore::Outcome::duplicate);

        // A small change of the same picture soon after replaces it: same number, same name, same time.
        QImage edited = first;
        QPainter(&edited).fillRect(10, 10, 12, 6, Qt::black);
        const auto r2 = take(edited, 60);
        QCOMPARE(r2.outcome, ShotStore::Outcome::updated);
        QCOMPARE(r2.shotName, r1.shotName);
        QCOMPARE(r2.logText, QStringLiteral("截图1 已更新（第 1 次）"));
        const Shot s = *shots->shot(r1.shotName);
        QCOMPARE(s.updated, 1);
        QCOMPARE(s.upload(server)->state, Upload::State::pending);
        QVERIFY(!s.upload(server)->remotePath);
        QCOMPARE(QImage(s.localPath).pixel(12, 12), QColor(Qt::black).rgb());
        QCOMPARE(shots->shots().size(), 1);

        // Past 120 s from the first capture it is a new shot, even though it is similar.
        QImage later = edited;
        QPainter(&later).fillRect(30, 30, 8, 4, Qt::black);
        QCOMPARE(take(later, 61).outcome, ShotStore::Outcome::stored);

        // A different size is never an update.
        QCOMPARE(take(screenshot(641, 480, 1), 2).outcome, ShotStore::Outcome::stored);
        QCOMPARE(shots->shots().size(), 3);
    }

    void deletedShotMayBeTakenAgain()
    {
        const QImage image = screenshot(320, 200, 9);
        const auto r = take(image);
        shots->setSelected(r.shotName);
        QVERIFY(shots->remove(r.shotName));
        QVERIFY(!QFile::exists(store->path(QStringLiteral("shots/2026-10-18"))));
        QVERIFY(!shots->selected());
        QCOMPARE(take(image).outcome, ShotStore::Outcome::stored);
        QCOMPARE(shots->removeAll().size(), 1);
        QCOMPARE(take(image).outcome, ShotStore::Outcome::stored); // numbers go on: 3
        QCOMPARE(shots->shots().last().n, 3);
    }

    void restartNeverReusesANumberOfToday()
    {
        take(screenshot(100, 100, 1));
        take(screenshot(100, 120, 2));
        QFile::remove(store->path(QStringLiteral("seq.json")));
        open();
        QCOMPARE(take(screenshot(100, 140, 3)).shotName.section(QLatin1Char('-'), 2), QStringLiteral("3.png"));
    }

    // Killed while uploading: after the restart the upload is failed (so a re-upload takes it), the rest stays.
    void interruptedUploadFailsAtRestart()
    {
        const QString name = take(screenshot(100, 100, 1)).shotName;
        const QUuid cut = QUuid::createUuid(), sent = QUuid::createUuid();
        shots->setUpload(name, cut, Upload{Upload::State::uploading, {}, {}, now()});
        shots->setUpload(name, sent, Upload{Upload::State::done, QStringLiteral("/r/x"), {}, now()});
        open();
        const Shot shot = *shots->shot(name);
        QCOMPARE(shot.upload(cut)->state, Upload::State::failed);
        QCOMPARE(shot.upload(cut)->error, QStringLiteral("上传被打断了（程序退出时还没传完）"));
        QCOMPARE(shot.upload(sent)->state, Upload::State::done);
        QCOMPARE(store->loadState().shots.first().upload(cut)->state, Upload::State::failed);
    }

    void retentionByAgeThenSizeThenOrphans()
    {
        settings.keepHours = 24;
        const auto old = take(screenshot(200, 200, 1));
        clock->advance(20 * 3600);
        const auto a = take(screenshot(200, 210, 2));
        const auto b = take(screenshot(200, 220, 3));
        const auto c = take(screenshot(200, 230, 4));
        shots->setSelected(old.shotName);

        // An orphan file nobody lists, old enough to go, and a recent one that stays.
        const QString dayDir = QFileInfo(shots->shot(a.shotName)->localPath).absolutePath();
        QFile orphan(dayDir + QStringLiteral("/stray.png"));
        QVERIFY(orphan.open(QIODevice::WriteOnly));
        orphan.write("x");
        orphan.close();
        setModified(orphan.fileName(), now().addSecs(-30 * 3600));
        QFile fresh(dayDir + QStringLiteral("/.upload.part"));
        QVERIFY(fresh.open(QIODevice::WriteOnly));
        fresh.close();

        clock->advance(5 * 3600);
        const qint64 sizeB = QFileInfo(shots->shot(b.shotName)->localPath).size();
        const qint64 sizeC = QFileInfo(shots->shot(c.shotName)->localPath).size();
        settings.maxDirBytes = sizeB + sizeC + 10; // room for the two newest only
        const QStringList gone = shots->purgeLocal(settings, now());
        QCOMPARE(gone, QStringList({old.shotName, a.shotName}));
        QCOMPARE(shots->shots().size(), 2);
        QVERIFY(!shots->selected());
        QVERIFY(!orphan.exists());
        QVERIFY(fresh.exists());
        QVERIFY(!QFile::exists(store->path(QStringLiteral("shots/2026-10-18")))); // the emptied day folder went
    }

    // The state file names each shot's file; a name outside the shot folder is dropped, never deleted.
    void purgeDeletesOnlyInsideTheShotFolder_data()
    {
        QTest::addColumn<QString>("localPath"); // {data}: this run's data folder
        QTest::newRow("elsewhere") << "{outside}/notes.txt";
        QTest::newRow("climbing out") << "{data}/shots/2026-10-18/../../../outside/notes.txt";
        QTest::newRow("beside the shots") << "{data}/state-notes.txt";
        QTest::newRow("through a linked day folder") << "{data}/shots/linked/notes.txt";
    }
    void purgeDeletesOnlyInsideTheShotFolder()
    {
        QFETCH(QString, localPath);
        const QString outside = data.file(QStringLiteral("outside"));
        QDir().mkpath(outside);
        QDir().mkpath(store->path(QStringLiteral("shots")));
        QVERIFY(QFile::link(outside, store->path(QStringLiteral("shots/linked"))) || QFileInfo::exists(store->path(QStringLiteral("shots/linked"))));
        localPath.replace(QLatin1String("{outside}"), outside).replace(QLatin1String("{data}"), store->path(QStringLiteral(".")));
        const auto taken = take(screenshot(200, 200, 9));
        QFile victim(localPath);
        QVERIFY(victim.open(QIODevice::WriteOnly));
        victim.write("mine");
        victim.close();
        state->update([&](StateFile& f) { f.shots.last().localPath = localPath; });
        clock->advance(48 * 3600);
        QCOMPARE(shots->purgeLocal(settings, now()), QStringList{taken.shotName});
        QCOMPARE(readFile(victim.fileName()), QByteArray("mine"));
        QVERIFY(QFile::remove(victim.fileName()));
    }
};

QTEST_GUILESS_MAIN(ShotStoreTest)
#include "ShotStoreTest.moc"
