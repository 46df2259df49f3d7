#include "support/ShotPile.h"

#include "state/Paths.h"

#include <QDirIterator>
#include <QFile>

namespace ShotPile {
QList<Shot> write(const Store& store, int count, const QDateTime& newest, int hours, int servers)
{
    StateFile state;
    for (int i = 0; i < servers; ++i) {
        Server server;
        server.name = server.host = QStringLiteral("build-%1.example.net").arg(i + 1);
        server.user = QStringLiteral("builder");
        server.matchKeywords = {server.host, QStringLiteral("builder@")};
        server.setup.keyInstalled = true;
        server.setup.receiverVersion = 3;
        server.setup.remoteDirAbsolute = QStringLiteral("/home/builder/tarnel");
        state.servers << server;
    }
    const QString root = store.path(QStringLiteral("shots"));
    const qint64 span = qint64(hours) * 3600;
    for (int i = 0; i < count; ++i) {
        Shot s;
        s.ts = newest.addSecs(-span + span * (i + 1) / count).toUTC();
        const QDateTime local = s.ts.toLocalTime();
        s.n = i + 1;
        s.w = 100 + i % 50;
        s.h = 80;
        s.name = QStringLiteral("%1-%2.png").arg(local.toString(QStringLiteral("yyyyMMdd-HHmmss"))).arg(s.n);
        const QString day = root + QLatin1Char('/') + local.toString(QStringLiteral("yyyy-MM-dd"));
        s.localPath = day + QLatin1Char('/') + s.name;
        s.hash = QString::number(i, 16).rightJustified(32, QLatin1Char('0'));
        s.fingerprint = QStringLiteral("0");
        for (const Server& server : state.servers)
            s.uploads.insert(server.idText(), Upload{Upload::State::done,
                *server.setup.remoteDirAbsolute + local.toString(QStringLiteral("/yyyy-MM-dd/")) + s.name, {}, s.ts});
        Paths::ensure(day);
        QFile file(s.localPath);
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray(100 + (i * 7919) % 8000, 'x'));
        state.shots << s;
    }
    if (!state.shots.isEmpty()) {
        state.lastHash = state.shots.last().hash;
        state.selectedShot = state.shots[count / 3].name;
    }
    store.saveState(state);
    return state.shots;
}

QStringList filesUnder(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}
} // namespace ShotPile
