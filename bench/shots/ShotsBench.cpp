// Shot store at scale: the hourly round, purge of half, clear, and one shot's round (store + upload marks), in
// GUI-thread time (the longest stall of the event loop where work goes to other threads).
// Usage: shots [count] [servers]: with servers, each shot is recorded as uploaded to every one of them.
#include "StallProbe.h"
#include "capture/ShotStore.h"
#include "state/Sequencer.h"
#include "state/StateStore.h"
#include "support/ShotPile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUuid>

namespace {
double msSince(const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e6; }

qint64 folderBytes(const QString& folder)
{
    qint64 total = 0;
    for (const QString& f : ShotPile::filesUnder(folder))
        total += QFileInfo(f).size();
    return total;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 20000;
    const int listed = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 0;
    QTextStream out(stdout);
    QTemporaryDir dir;
    qputenv("TARNEL_DATA", dir.path().toLocal8Bit());
    Store store(dir.path());
    const QDateTime now = QDateTime::currentDateTime();
    ShotPile::write(store, count, now, 24 * 9, listed);

    Sequencer sequencer(store);
    StateStore state(store);
    sequencer.saveLater = [&](std::function<void()> job) { state.beforeNextWrite(std::move(job)); }; // as the app does
    ShotStore shots(state, sequencer, store.path(QStringLiteral("shots")));
    Settings settings;
    settings.keepHours = 100000;
    settings.maxDirBytes = qint64(1) << 50;
    settings.dailyLimit = 1'000'000; // the pile holds many of today's shots
    QElapsedTimer t;
    StallProbe probe;
    QEventLoop loop;
    probe.start();
    t.restart();
    shots.maintainSoon(settings, now, ShotStore::Round::hourly, [&](const QStringList&) { loop.quit(); });
    loop.exec();
    const double round = msSince(t);
    out << "hourly round, nothing due (" << count << " shots): " << round << " ms, longest GUI-thread stall "
        << probe.stop() << " ms\n";

    // One shot's round with five servers: store, then uploading and done for each.
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(Qt::white);
    QList<QUuid> servers;
    for (int i = 0; i < 5; ++i)
        servers << QUuid::createUuid();
    probe.start();
    ShotStore::Outcome outcome = ShotStore::Outcome::refused;
    shots.take(image, settings, true, now.addSecs(10), [&](const ShotStore::Result& result) {
        outcome = result.outcome;
        for (const QUuid& id : servers)
            shots.setUpload(result.shotName, id, Upload{Upload::State::uploading, {}, {}, now});
        for (const QUuid& id : servers)
            shots.setUpload(result.shotName, id, Upload{Upload::State::done, QStringLiteral("/r/x"), {}, now});
        loop.quit();
    });
    loop.exec();
    if (outcome != ShotStore::Outcome::stored)
        return 1;
    out << "one shot's round, 5 servers (" << shots.shots().size() << " shots): longest GUI-thread stall "
        << probe.stop() << " ms\n";
    state.flush();

    settings.maxDirBytes = folderBytes(store.path(QStringLiteral("shots"))) / 2;
    t.restart();
    const int gone = int(shots.purgeLocal(settings, now).size());
    out << "purge of half (" << gone << " of " << count << "): " << msSince(t) << " ms\n";
    t.restart();
    state.flush();
    out << "  then writing state.json and deleting the files (off the GUI thread when run in the app): " << msSince(t)
        << " ms\n";

    t.restart();
    const int cleared = int(shots.removeAll().size());
    out << "clear (" << cleared << " shots): " << msSince(t) << " ms\n";
    state.flush();
    return 0;
}
