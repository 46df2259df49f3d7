#pragma once

#include "state/Shot.h"
#include "state/Store.h"

#include <QList>

// Many stored shots at once, written straight to a data directory: records in state.json and a file for each
// under shots/<day>/, oldest first, spread evenly over `hours` before `newest`, with sizes of 100 B to 8 KB.
namespace ShotPile {
QList<Shot> write(const Store& store, int count, const QDateTime& newest, int hours);
// All regular files under a folder, by path.
QStringList filesUnder(const QString& folder);
} // namespace ShotPile
