#pragma once

#include "state/Shot.h"
#include "state/Store.h"

#include <QList>

// Many stored shots at once, written straight to a data directory: records in state.json and a file for each
// under shots/<day>/, oldest first, spread evenly over `hours` before `newest`, with sizes of 100 B to 8 KB.
// With `servers`, that many set-up servers are listed too and every shot is uploaded to each.
namespace ShotPile {
QList<Shot> write(const Store& store, int count, const QDateTime& newest, int hours, int servers = 0);
// All regular files under a folder, by path.
QStringList filesUnder(const QString& folder);
} // namespace ShotPile
