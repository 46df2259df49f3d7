#include "state/StateStore.h"

StateStore::StateStore(const Store& store, QObject* parent)
    : QObject(parent), store(store), current(store.loadState())
{
}

void StateStore::update(const std::function<void(StateFile&)>& change)
{
    change(current);
    store.saveState(current);
    Q_EMIT changed();
}
