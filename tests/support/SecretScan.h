#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Looks for a secret where it must never be: any process's argument list or environment, and any file
// under a folder. Returns where it was found (empty when nowhere).
QStringList processesHolding(const QByteArray& secret);
QStringList filesHolding(const QString& folder, const QByteArray& secret);
