#pragma once

#include "capture/ShotStore.h"
#include "state/Sequencer.h"
#include "state/StateStore.h"
#include "state/Store.h"
#include "support/FakeClock.h"

#include <QImage>
#include <memory>

// A shot store on a folder of its own, with its sequence and a process clock that moves only when told.
class ShotRig {
public:
    explicit ShotRig(const QString& folder, const QDateTime& start = QDateTime(QDate(2026, 10, 18), QTime(15, 30, 12)));

    // `image` taken `afterSeconds` after the clock's time so far (5: a new shot, not an update of the last).
    ShotStore::Result take(const QImage& image, qint64 afterSeconds = 5, bool hasServer = true);
    // Closes the store and opens it again from its files, as a restart does.
    void reopen();

    FakeClock clock;
    Store store;
    Settings settings;
    std::unique_ptr<StateStore> state;
    std::unique_ptr<Sequencer> sequencer;
    std::unique_ptr<ShotStore> shots;
};
