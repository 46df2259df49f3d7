#pragma once

#include "state/StateFile.h"
#include "state/Store.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

class StateWriter;

// Holds the one shared StateFile. Changes apply at once in memory; state.json is written whole by a
// background writer, so no write blocks this thread. Prompt changes are handed to the writer at once,
// frequent ones (upload marks, paste counts) at most once per coalescing interval. Destruction flushes.
class StateStore : public QObject {
    Q_OBJECT
public:
    explicit StateStore(const Store& store, QObject* parent = nullptr, int coalesceMs = 250);
    ~StateStore() override;

    const StateFile& state() const { return current; }
    // True when the state was read from its file (not begun afresh, nor after the file was set aside).
    bool readFromFile() const { return fromFile; }
    // Applies one change and hands it to the writer at once.
    void update(const std::function<void(StateFile&)>& change);
    // Applies one change that may wait for the next write, at most the coalescing interval.
    void updateSoon(const std::function<void(StateFile&)>& change);
    // Runs `done` on this thread once every change made so far is on disk.
    void whenWritten(std::function<void()> done);
    // Runs `job` on the writer's thread once every change made so far is on disk (slow file work in order).
    void afterWritten(std::function<void()> job);
    // Runs `job` on the writer's thread before the state with any later change is written (a file a later
    // record points at, made durable first).
    void beforeNextWrite(std::function<void()> job);
    // Blocks until every change made so far is on disk, then runs the waiting `whenWritten` callbacks.
    void flush();

Q_SIGNALS:
    void changed();

private:
    void writeNow();
    void runWritten(quint64 generation);

    StateFile current;
    bool fromFile = false;
    std::unique_ptr<StateWriter> writer;
    QTimer coalesce;
    quint64 changes = 0;   // generation of the newest change in memory
    quint64 submitted = 0; // newest generation handed to the writer
    quint64 written = 0;   // newest generation known to be on disk
    std::vector<std::pair<quint64, std::function<void()>>> waiting;
};
