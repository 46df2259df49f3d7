#include "capture/ImageStore.h"
#include "capture/ShotStore.h"
#include "state/Json.h"
#include "state/Sequencer.h"
#include "support/FakeClock.h"
#include "support/ShotPile.h"
#include "support/TestImages.h"
#include "support/TempDataDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QTest>
#include <atomic>
#include <memory>
#include <sys/time.h>

namespace {
using TestImages::noise;
using TestImages::screenshot;

// Retention as the rule states it: by age, then the oldest while the folder is over its limit.
QStringList retainedByRule(const QList<Shot>& shots, qint64 folderBytes, const Settings& settings, const QDateTime& now)
{
    const QDateTime cutoff = now.addSecs(-qint64(settings.keepHours) * 3600);
    QStringList gone;
    QSet<QString> seen;
    for (const Shot& s : shots)
        if (s.ts < cutoff && !seen.contains(s.name)) {
            gone << s.name;
            seen.insert(s.name);
        }
    for (const Shot& s : shots) {
        if (folderBytes <= settings.maxDirBytes)
            break;
        if (!seen.contains(s.name)) {
            gone << s.name;
            seen.insert(s.name);
        }
        folderBytes -= QFileInfo(s.localPath).size();
    }
    return gone;
}

qint64 folderBytes(const QString& folder)
{
    qint64 total = 0;
    for (const QString& file : ShotPile::filesUnder(folder))
        total += QFileInfo(file).size();
    return total;
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
    StateFile onDisk()
    {
        state->flush();
        return store->loadState();
    }

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
        QVERIFY2(r.logText.endsWith(QStringLiteral(" KB）")) && !r.logText.endsWith(QStringLiteral("，0 KB）")), qPrintable(r.logText));
        QCOMPARE(take(screenshot(800, 600, 2), 200).shotName, QStringLiteral("20261018-153332-2.png"));
        // A tiny shot is not logged as "0 KB".
        const auto tiny = take(screenshot(4, 4, 3), 400);
        QCOMPARE(tiny.logText, QStringLiteral("截图3 已存（4×4，PNG，%1 字节）").arg(QFileInfo(shots->shot(tiny.shotName)->localPath).size()));
        // The state file on disk holds all, oldest first.
        QCOMPARE(onDisk().shots.size(), 3);
        QCOMPARE(shots->todayCount(now()), 3);
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

    // Copies that come while an image is still being worked on wait their turn: none is lost, shots are numbered
    // in the order the copies came, and the rules that depend on the one before see it stored.
    void copiesDuringASlowEncodeKeepTheirOrder()
    {
        QSemaphore held;
        std::atomic<int> calls = 0;
        shots->normalise = [&](const QImage& image, int longSide, qint64 maxBytes, const QByteArray& source) {
            if (calls++ == 0)
                held.acquire();
            return ImageStore::normalise(image, longSide, maxBytes, source);
        };
        QList<ShotStore::Result> results;
        const auto collect = [&](const ShotStore::Result& r) { results << r; };
        const QDateTime t = now();
        const QImage second = screenshot(810, 600, 2);
        shots->take(screenshot(800, 600, 1), settings, true, t, collect);
        shots->take(second, settings, true, t.addSecs(2), collect);
        shots->take(screenshot(820, 600, 3), settings, true, t.addMSecs(2500), collect); // too soon after the second
        shots->take(second, settings, true, t.addSecs(4), collect);                      // the same again
        shots->take(screenshot(830, 600, 4), settings, true, t.addSecs(6), collect);
        shots->setPaused(true);
        shots->take(screenshot(840, 600, 5), settings, true, t.addSecs(8), collect);
        QCoreApplication::processEvents();
        QVERIFY(results.isEmpty());

        held.release();
        QTRY_COMPARE(results.size(), 6);
        const QList<std::pair<ShotStore::Outcome, ShotStore::Refusal>> expected = {
            {ShotStore::Outcome::stored, ShotStore::Refusal::none},
            {ShotStore::Outcome::stored, ShotStore::Refusal::none},
            {ShotStore::Outcome::refused, ShotStore::Refusal::tooSoon},
            {ShotStore::Outcome::duplicate, ShotStore::Refusal::none},
            {ShotStore::Outcome::stored, ShotStore::Refusal::none},
            {ShotStore::Outcome::refused, ShotStore::Refusal::paused},
        };
        for (int i = 0; i < 6; ++i)
            QCOMPARE(std::make_pair(results[i].outcome, results[i].refusal), expected[i]);
        QCOMPARE(results[4].shotName, QStringLiteral("20261018-153018-3.png"));
        QCOMPARE(shots->shots().size(), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(shots->shots()[i].w, 800 + 10 * (i == 2 ? 3 : i));
        QCOMPARE(calls.load(), 5); // the paused one was never worked on
    }

    // Clipboard bytes are decoded on the worker: a picture that does not decode is refused with the reason.
    void undecodableCopyIsRefused()
    {
        std::optional<ShotStore::Result> result;
        const auto corrupt = ClipboardImage::encoded(TestImages::pngClaiming(QSize(300, 200)), "png");
        shots->take(corrupt, settings, true, now(), [&](const ShotStore::Result& r) { result = r; });
        QTRY_VERIFY(result);
        QCOMPARE(result->refusal, ShotStore::Refusal::unreadable);
        QCOMPARE(result->flashText, QStringLiteral("剪贴板里的图片读不出来（300×200，太大或已损坏），没存"));
        QVERIFY(shots->shots().isEmpty());
    }

    // Killed at any moment of a burst of copies, marks and removals: the state file loads, no record points at a
    // missing image, and after the start-up round every image has its record.
    void killedDuringABurstStaysConsistent()
    {
        QRandomGenerator random{14u};
        for (int round = 0; round < 20; ++round) {
            const QString dir = data.file(QStringLiteral("burst%1").arg(round));
            QProcess burst;
            burst.start(QStringLiteral(TARNEL_BINARY_DIR "/tests/support/shot-burst"), {dir});
            const int stopAfter = random.bounded(1, 7);
            int written = 0;
            // Every shot waits on several fsyncs: slow while other tests keep the disk busy.
            QTRY_VERIFY_WITH_TIMEOUT((written += int(burst.readAllStandardOutput().count('\n'))) >= stopAfter, 90000);
            burst.kill();
            QVERIFY(burst.waitForFinished());

            const Store crashed(dir);
            QCOMPARE(QDir(dir).entryList({QStringLiteral("*.broken-*")}), QStringList());
            const StateFile loaded = crashed.loadState();
            QVERIFY(!loaded.shots.isEmpty());
            for (const Shot& s : loaded.shots)
                QVERIFY2(QFile::exists(s.localPath), qPrintable(s.localPath));

            Sequencer sequencer(crashed);
            StateStore state(crashed);
            ShotStore restarted(state, sequencer, crashed.path(QStringLiteral("shots")));
            restarted.maintain(settings, QDateTime(QDate(2026, 10, 18), QTime(10, 0)), ShotStore::Round::atStart);
            state.flush();
            QStringList recorded;
            for (const Shot& s : restarted.shots())
                recorded << s.localPath;
            recorded.sort();
            QCOMPARE(ShotPile::filesUnder(crashed.path(QStringLiteral("shots"))), recorded);
        }
    }

    // Killed after an image's file was in place but before its record was written: the next start takes the
    // image back as that shot (logged), its number is never handed out again, and only cut-off writes go.
    void startUpRoundTakesBackAFinishedShotWithoutRecord()
    {
        const auto first = take(screenshot(300, 200, 1));
        state->flush();
        const QByteArray beforeSecond = readFile(store->path(QStringLiteral("state.json")));
        const auto second = take(screenshot(320, 240, 2));
        const Shot lost = *shots->shot(second.shotName);
        state->flush();
        QVERIFY(writeWholeFile(store->path(QStringLiteral("state.json")), beforeSecond));
        QFile::remove(store->path(QStringLiteral("seq.json"))); // lost as well: the file alone must keep the number
        const QString dayDir = QFileInfo(lost.localPath).absolutePath();
        const QString cutOff = dayDir + QStringLiteral("/20261018-153030-3.png.tmp-Ab12Cd");
        const QString garbled = dayDir + QStringLiteral("/20261018-153031-4.png");
        QVERIFY(writeWholeFile(cutOff, "half") && writeWholeFile(garbled, "not an image"));
        open();
        QCOMPARE(shots->shots().size(), 1);

        shots->maintain(settings, now(), ShotStore::Round::atStart);
        state->flush();
        QCOMPARE(onDisk().shots.size(), 2);
        QCOMPARE(*shots->shot(second.shotName), lost);
        QCOMPARE(shots->shots().first().name, first.shotName);
        QCOMPARE(shots->todayCount(now()), 2);
        QVERIFY(!QFile::exists(cutOff));
        QVERIFY(QFile::exists(garbled));
        const QStringList log = data.logLines();
        QVERIFY(log.filter(QStringLiteral("截图2 找回了：上次退出前图片已存好，记录还没写下（%1）").arg(lost.name)).size() == 1);
        QVERIFY(log.filter(QStringLiteral("读不出来，留在原处")).filter(garbled).size() == 1);
        QCOMPARE(take(screenshot(300, 260, 5)).shotName.section(QLatin1Char('-'), 2), QStringLiteral("5.png"));
    }

    // A state file that could not be read is set aside: then every image looks unrecorded, and none may go.
    void startUpRoundKeepsImagesWhenTheStateWasSetAside()
    {
        const QString file = shots->shot(take(screenshot(200, 200, 1)).shotName)->localPath;
        state->flush();
        QVERIFY(writeWholeFile(store->path(QStringLiteral("state.json")), "{ not json"));
        open();
        QVERIFY(shots->shots().isEmpty());
        shots->maintain(settings, now(), ShotStore::Round::atStart);
        state->flush();
        QVERIFY(QFile::exists(file));
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
        state->flush();
        QVERIFY(!QFile::exists(store->path(QStringLiteral("shots/2026-10-18"))));
        QVERIFY(!shots->selected());
        QCOMPARE(take(image).outcome, ShotStore::Outcome::stored);
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
        QCOMPARE(onDisk().shots.first().upload(cut)->state, Upload::State::failed);
    }

    // Age and size are purgeAtScaleFollowsTheRule's; here: files nobody lists, and the day folder emptied.
    void maintenanceTakesOldStraysAndEmptiedDays()
    {
        settings.keepHours = 24;
        const auto old = take(screenshot(200, 200, 1));
        clock->advance(20 * 3600);
        const QString dayDir = QFileInfo(shots->shot(take(screenshot(200, 210, 2)).shotName)->localPath).absolutePath();
        const QString stray = dayDir + QStringLiteral("/stray.png"), fresh = dayDir + QStringLiteral("/.upload.part");
        QVERIFY(writeWholeFile(stray, "x") && writeWholeFile(fresh, {}));
        setModified(stray, now().addSecs(-30 * 3600));
        clock->advance(5 * 3600);
        QCOMPARE(shots->maintain(settings, now()), QStringList{old.shotName});
        state->flush();
        QVERIFY(!QFile::exists(stray));
        QVERIFY(QFile::exists(fresh));
        QVERIFY(!QFile::exists(store->path(QStringLiteral("shots/2026-10-18"))));
    }

    void purgeAtScaleFollowsTheRule_data()
    {
        QTest::addColumn<int>("keepHours");
        QTest::addColumn<qint64>("limitPercent"); // of the folder's size
        QTest::addColumn<qint64>("strayBytes");   // a recent file no shot lists
        QTest::newRow("by age") << 48 << qint64(200) << qint64(0);
        QTest::newRow("age, then size") << 100 << qint64(30) << qint64(0);
        QTest::newRow("by size, a stray file counts") << 10000 << qint64(60) << qint64(4'000'000);
    }

    void purgeAtScaleFollowsTheRule()
    {
        QFETCH(int, keepHours);
        QFETCH(qint64, limitPercent);
        QFETCH(qint64, strayBytes);
        const QList<Shot> pile = ShotPile::write(*store, 20000, now(), 24 * 9);
        const QString folder = store->path(QStringLiteral("shots"));
        const QString stray = QFileInfo(pile.last().localPath).absolutePath() + QStringLiteral("/.upload.part");
        if (strayBytes > 0)
            QVERIFY(writeWholeFile(stray, QByteArray(strayBytes, 's')));
        open();
        settings.keepHours = keepHours;
        settings.maxDirBytes = folderBytes(folder) * limitPercent / 100;
        const QStringList expected = retainedByRule(pile, folderBytes(folder), settings, now());

        QCOMPARE(shots->maintain(settings, now()), expected);
        state->flush();
        const QSet<QString> gone(expected.begin(), expected.end());
        QStringList kept, keptFiles;
        for (const Shot& s : pile)
            if (!gone.contains(s.name)) {
                kept << s.name;
                keptFiles << s.localPath;
            }
        QStringList recorded;
        for (const Shot& s : onDisk().shots)
            recorded << s.name;
        QCOMPARE(recorded, kept);
        if (strayBytes > 0)
            keptFiles << stray;
        keptFiles.sort();
        QCOMPARE(ShotPile::filesUnder(folder), keptFiles);
        QCOMPARE(shots->selected().has_value(), !gone.contains(pile[20000 / 3].name));
        QCOMPARE(shots->todayCount(now()), int(std::count_if(pile.begin(), pile.end(), [&](const Shot& s) {
                     return !gone.contains(s.name) && s.ts.toLocalTime().date() == now().toLocalTime().date();
                 })));
    }

    // The counts kept as shots and marks change give what a walk over every shot gives, on any day asked.
    void keptCountsMatchAFullWalk()
    {
        const QList<QUuid> servers{QUuid::createUuid(), QUuid::createUuid(), QUuid::createUuid()};
        const QList<Upload::State> states{Upload::State::done, Upload::State::failed, Upload::State::pending,
                                          Upload::State::done, Upload::State::skipped};
        StateFile file;
        file.shots = ShotPile::write(*store, 240, now(), 60);
        // Mixed marks; two shots on the very edges of today.
        for (qsizetype i = 0; i < file.shots.size(); ++i)
            for (qsizetype k = 0; k < servers.size(); ++k)
                if ((i + k) % 4 != 0)
                    file.shots[i].uploads.insert(Json::uuidText(servers[k]),
                                                 Upload{states[(i * 3 + k) % states.size()], {}, {}, {}});
        const QDate today = now().toLocalTime().date();
        file.shots[10].ts = today.startOfDay().toUTC();
        file.shots[11].ts = today.startOfDay().addMSecs(-1000).toUTC();
        store->saveState(file);
        open();
        // Today first and last: each step's changes are then counted as they happen, not by a fresh walk.
        const auto check = [&](const char* step) {
            for (int d : {0, -3, -2, -1, 1, 0}) {
                const QDateTime day = now().addDays(d);
                const QString key = Sequencer::dayKey(day);
                int walked = 0;
                QList<int> done(servers.size(), 0);
                for (const Shot& s : shots->shots()) {
                    if (Sequencer::dayKey(s.ts) != key)
                        continue;
                    ++walked;
                    for (qsizetype k = 0; k < servers.size(); ++k)
                        done[k] += s.upload(servers[k]) && s.upload(servers[k])->state == Upload::State::done;
                }
                QVERIFY2(shots->todayCount(day) == walked, step);
                for (qsizetype k = 0; k < servers.size(); ++k)
                    QVERIFY2(shots->doneCount(servers[k], day) == done[k], step);
            }
        };
        check("as read");
        if (QTest::currentTestFailed())
            return;
        const QList<Shot> listed = shots->shots();
        shots->setUpload(listed.last().name, servers[0], Upload{Upload::State::done, {}, {}, now()});
        shots->setUpload(listed.last().name, servers[0], Upload{Upload::State::failed, {}, {}, now()});
        shots->setUpload(listed[listed.size() - 2].name, servers[1], Upload{Upload::State::done, {}, {}, now()});
        shots->setUpload(listed[listed.size() - 3].name, QUuid::createUuid(), Upload{Upload::State::done, {}, {}, now()});
        check("after marks");
        if (QTest::currentTestFailed())
            return;
        clock->advance(600);
        const auto taken = take(screenshot(640, 480, 7));
        shots->setUpload(taken.shotName, servers[2], Upload{Upload::State::done, {}, {}, now()});
        check("after a new shot");
        if (QTest::currentTestFailed())
            return;
        QImage edited = screenshot(640, 480, 7);
        QPainter(&edited).fillRect(10, 10, 12, 6, Qt::black);
        QCOMPARE(take(edited, 30).outcome, ShotStore::Outcome::updated);
        check("after an update in place");
        if (QTest::currentTestFailed())
            return;
        QVERIFY(shots->remove(listed.last().name));
        QVERIFY(shots->remove(listed[10].name));
        settings.keepHours = 30;
        QVERIFY(!shots->purgeLocal(settings, now()).isEmpty());
        check("after removals");
        if (QTest::currentTestFailed())
            return;
        clock->advance(24 * 3600);
        take(screenshot(320, 200, 8));
        check("next day");
    }

    void clearAtScaleLeavesNothing()
    {
        const QList<Shot> pile = ShotPile::write(*store, 20000, now(), 24 * 9);
        open();
        QStringList all;
        for (const Shot& s : pile)
            all << s.name;
        QCOMPARE(shots->removeAll(), all);
        state->flush();
        QVERIFY(onDisk().shots.isEmpty());
        QVERIFY(!onDisk().selectedShot && !onDisk().lastHash);
        QCOMPARE(ShotPile::filesUnder(store->path(QStringLiteral("shots"))), QStringList());
        QCOMPARE(shots->todayCount(now()), 0);
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
        QVERIFY(writeWholeFile(localPath, "mine"));
        state->update([&](StateFile& f) { f.shots.last().localPath = localPath; });
        clock->advance(48 * 3600);
        QCOMPARE(shots->purgeLocal(settings, now()), QStringList{taken.shotName});
        state->flush();
        QCOMPARE(readFile(localPath), QByteArray("mine"));
        QVERIFY(QFile::remove(localPath));
    }
};

QTEST_GUILESS_MAIN(ShotStoreTest)
#include "ShotStoreTest.moc"
