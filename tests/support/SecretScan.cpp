#include "support/SecretScan.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

QStringList processesHolding(const QByteArray& secret)
{
    QStringList found;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool number = false;
        entry.toInt(&number);
        if (!number)
            continue;
        for (const char* part : {"cmdline", "environ"}) {
            QFile file(QStringLiteral("/proc/%1/%2").arg(entry, QLatin1String(part)));
            if (file.open(QIODevice::ReadOnly) && file.readAll().contains(secret))
                found << file.fileName();
        }
    }
    return found;
}

QStringList filesHolding(const QString& folder, const QByteArray& secret)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(secret))
            found << file.fileName();
    }
    return found;
}
