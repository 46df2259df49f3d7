#pragma once

#include "state/StateFile.h"
#include "state/Store.h"

#include <QObject>
#include <functional>

// Holds the one shared StateFile and writes it whole to state.json after every change.
class StateStore : public QObject {
    Q_OBJECT
public:
    explicit StateStore(const Store& store, QObject* parent = nullptr);

    const StateFile& state() const { return current; }
    // Applies one change, saves, and announces it.
    void update(const std::function<void(StateFile&)>& change);

Q_SIGNALS:
    void changed();

private:
    const Store& store;
    StateFile current;
};
