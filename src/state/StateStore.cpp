#include "state/StateStore.h"

#include <QFileInfo>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

// One thread that writes the newest snapshot it was given; snapshots queued behind a running write are
// replaced by newer ones, since each holds the whole state.
class StateWriter {
public:
    StateWriter(const Store& store, std::function<void(quint64)> written)
        : store(store), written(std::move(written)), thread([this] { run(); })
    {
    }

    ~StateWriter()
    {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        thread.join();
    }

    void submit(StateFile snapshot, quint64 generation)
    {
        {
            std::lock_guard lock(mutex);
            next = std::move(snapshot);
            nextGeneration = generation;
        }
        wake.notify_all();
    }

    // Runs `job` here once the snapshot submitted last is on disk.
    void after(std::function<void()> job)
    {
        {
            std::lock_guard lock(mutex);
            jobs.push_back(std::move(job));
        }
        wake.notify_all();
    }

    // Runs `job` here before the next snapshot is written.
    void before(std::function<void()> job)
    {
        {
            std::lock_guard lock(mutex);
            early.push_back(std::move(job));
        }
        wake.notify_all();
    }

    void waitFor(quint64 generation)
    {
        std::unique_lock lock(mutex);
        done.wait(lock, [&] { return writtenGeneration >= generation && jobs.empty() && early.empty() && !busy; });
    }

private:
    void run()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [&] { return next || !jobs.empty() || !early.empty() || stopping; });
            if (!next && jobs.empty() && early.empty())
                return;
            const std::optional<StateFile> snapshot = std::move(next);
            const quint64 generation = nextGeneration;
            next.reset();
            std::vector<std::function<void()>> due, first;
            due.swap(jobs);
            first.swap(early);
            busy = true;
            lock.unlock();
            for (auto& job : first)
                job();
            if (snapshot)
                store.saveState(*snapshot);
            for (auto& job : due)
                job();
            if (snapshot)
                written(generation);
            lock.lock();
            if (snapshot)
                writtenGeneration = generation;
            busy = false;
            done.notify_all();
        }
    }

    const Store store;
    std::function<void(quint64)> written;
    std::mutex mutex;
    std::condition_variable wake, done;
    std::optional<StateFile> next;
    std::vector<std::function<void()>> jobs;
    std::vector<std::function<void()>> early;
    quint64 nextGeneration = 0;
    quint64 writtenGeneration = 0;
    bool stopping = false;
    bool busy = false;
    std::thread thread;
};

StateStore::StateStore(const Store& store, QObject* parent, int coalesceMs)
    : QObject(parent), current(store.loadState())
{
    fromFile = QFileInfo::exists(store.path(QStringLiteral("state.json")));
    writer = std::make_unique<StateWriter>(store, [this](quint64 generation) {
        QMetaObject::invokeMethod(this, [this, generation] { runWritten(generation); }, Qt::QueuedConnection);
    });
    coalesce.setSingleShot(true);
    coalesce.setInterval(coalesceMs);
    connect(&coalesce, &QTimer::timeout, this, &StateStore::writeNow);
}

StateStore::~StateStore()
{
    flush();
    writer.reset();
}

void StateStore::update(const std::function<void(StateFile&)>& change)
{
    change(current);
    ++changes;
    writeNow();
    Q_EMIT changed();
}

void StateStore::updateSoon(const std::function<void(StateFile&)>& change)
{
    change(current);
    ++changes;
    if (!coalesce.isActive())
        coalesce.start();
    Q_EMIT changed();
}

void StateStore::writeNow()
{
    coalesce.stop();
    if (submitted == changes)
        return;
    submitted = changes;
    writer->submit(current, submitted);
}

void StateStore::whenWritten(std::function<void()> done)
{
    writeNow();
    if (submitted <= written) {
        done();
        return;
    }
    waiting.emplace_back(submitted, std::move(done));
}

void StateStore::afterWritten(std::function<void()> job)
{
    writeNow();
    writer->after(std::move(job));
}

void StateStore::beforeNextWrite(std::function<void()> job) { writer->before(std::move(job)); }

void StateStore::flush()
{
    writeNow();
    writer->waitFor(submitted);
    runWritten(submitted);
}

void StateStore::runWritten(quint64 generation)
{
    written = std::max(written, generation);
    std::vector<std::function<void()>> due;
    std::erase_if(waiting, [&](auto& entry) {
        if (entry.first > generation)
            return false;
        due.push_back(std::move(entry.second));
        return true;
    });
    for (auto& done : due)
        done();
}
