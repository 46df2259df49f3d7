#include "support/ShotRig.h"

ShotRig::ShotRig(const QString& folder, const QDateTime& start) : clock(start), store(folder) { reopen(); }

void ShotRig::reopen()
{
    shots.reset();
    sequencer.reset();
    state.reset();
    state = std::make_unique<StateStore>(store);
    sequencer = std::make_unique<Sequencer>(store);
    shots = std::make_unique<ShotStore>(*state, *sequencer, store.path(QStringLiteral("shots")));
}

ShotStore::Result ShotRig::take(const QImage& image, qint64 afterSeconds, bool hasServer)
{
    clock.advance(afterSeconds);
    return shots->handle(image, settings, hasServer, clock.now());
}
