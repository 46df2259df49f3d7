// A burst of copies, upload marks and removals on one data directory, until it is killed. Prints each shot's
// number once its record is on disk. The crash test kills it at random moments.
//   shot-burst <data directory>
#include "capture/ShotStore.h"
#include "state/Json.h"
#include "state/Sequencer.h"
#include "state/StateStore.h"
#include "support/TestImages.h"

#include <QCoreApplication>
#include <QTimer>
#include <QUuid>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const Store store(QString::fromLocal8Bit(argv[1]));
    Sequencer sequencer(store);
    StateStore state(store, nullptr, 20);
    sequencer.saveLater = [&](std::function<void()> job) { state.beforeNextWrite(std::move(job)); }; // as the app does
    ShotStore shots(state, sequencer, store.path(QStringLiteral("shots")));
    const Settings settings;
    const QDateTime start(QDate(2026, 10, 18), QTime(9, 0));
    QList<QUuid> servers;
    for (int i = 0; i < 5; ++i)
        servers << QUuid::createUuid();
    int seed = 0;
    std::function<void()> next = [&] {
        ++seed;
        const QDateTime now = start.addSecs(2 * seed);
        shots.take(TestImages::screenshot(64 + seed % 7, 48, seed), settings, true, now, [&, now](const ShotStore::Result& r) {
            for (const QUuid& id : servers)
                shots.setUpload(r.shotName, id, Upload{Upload::State::uploading, {}, {}, now});
            for (const QUuid& id : servers)
                shots.setUpload(r.shotName, id, Upload{Upload::State::done, QStringLiteral("/r/x"), {}, now});
            if (seed % 4 == 0)
                shots.remove(shots.shots().first().name);
            state.whenWritten([n = seed] {
                std::printf("%d\n", n);
                std::fflush(stdout);
            });
            QTimer::singleShot(0, next);
        });
    };
    next();
    return app.exec();
}
