#include "state/Sequencer.h"

Sequencer::Sequencer(const Store& store) : store(store), seq(store.loadSeq().value_or(Seq{})) {}

QString Sequencer::dayKey(const QDateTime& time) { return time.toLocalTime().toString(QStringLiteral("yyyyMMdd")); }

qint64 Sequencer::next(const QDateTime& now)
{
    std::lock_guard lock(mutex);
    const QString today = dayKey(now);
    if (seq.date != today)
        seq = Seq{today, 0};
    ++seq.n;
    save();
    return seq.n;
}

qint64 Sequencer::peek(const QDateTime& now) const
{
    std::lock_guard lock(mutex);
    return seq.date == dayKey(now) ? seq.n : 0;
}

void Sequencer::reset(const QDateTime& now)
{
    std::lock_guard lock(mutex);
    seq = Seq{dayKey(now), 0};
    save();
}

void Sequencer::raiseTo(const QDateTime& now, qint64 n)
{
    std::lock_guard lock(mutex);
    const QString today = dayKey(now);
    const qint64 current = seq.date == today ? seq.n : 0;
    if (n <= current)
        return;
    seq = Seq{today, n};
    save();
}

// Called with the lock held.
void Sequencer::save()
{
    if (!saveLater) {
        store.saveSeq(seq);
        return;
    }
    saveLater([&store = store, seq = seq] { store.saveSeq(seq); });
}
