#include "support/PanelRig.h"

#include "account/AccountRecord.h"
#include "state/Paths.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QSignalSpy>

PanelRig::PanelRig(const TempDataDir& data) : data(data)
{
    QDir folder(data.path());
    for (const QFileInfo& entry : folder.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        if (entry.fileName() == QLatin1String("logs"))
            continue;
        if (entry.isDir())
            QDir(entry.filePath()).removeRecursively();
        else
            QFile::remove(entry.filePath());
    }
}

PanelRig::~PanelRig()
{
    hub.reset();
    AccountRecord::remove();
}

Server& PanelRig::addServer(const QString& name, bool enabled, bool keyInstalled, bool remoteKnown)
{
    Server server;
    server.name = name;
    server.host = name + QStringLiteral(".example");
    server.user = QStringLiteral("dev");
    server.enabled = enabled;
    server.setup.keyInstalled = keyInstalled;
    if (remoteKnown)
        server.setup.remoteDirAbsolute = QStringLiteral("/home/dev/tarnel");
    file.servers << server;
    return file.servers.last();
}

QImage PanelRig::picture(QSize size, qint64 number)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(int(number * 47 % 360), 40, 245));
    QPainter painter(&image);
    const int bar = std::max(4, size.height() / 14);
    painter.fillRect(QRect(0, 0, size.width(), bar), QColor(60, 64, 72));
    painter.fillRect(QRect(size.width() / 20, bar * 2, size.width() / 3, size.height() - bar * 4),
                     QColor::fromHsv(int(number * 47 % 360), 120, 200));
    for (int line = 0; line < 6; ++line)
        painter.fillRect(QRect(size.width() / 2, bar * (2 + line * 2), size.width() * 2 / 5, bar / 2), QColor(120, 124, 132));
    QFont font = painter.font();
    font.setPixelSize(std::max(8, std::min(size.width(), size.height()) / 4));
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(30, 30, 30));
    painter.drawText(image.rect(), Qt::AlignCenter, QString::number(number));
    return image;
}

Shot& PanelRig::addShot(const QDateTime& when, QSize size)
{
    const QDateTime local = when.toLocalTime();
    qint64 n = 1;
    for (const Shot& s : std::as_const(file.shots))
        if (s.ts.toLocalTime().date() == local.date())
            n = std::max(n, s.n + 1);
    const QString dayDir = data.file(QStringLiteral("shots/") + local.toString(QStringLiteral("yyyy-MM-dd")));
    Paths::ensure(data.file(QStringLiteral("shots")));
    Paths::ensure(dayDir);
    Shot shot;
    shot.n = n;
    shot.ts = QDateTime::fromSecsSinceEpoch(when.toSecsSinceEpoch(), Qt::UTC);
    shot.w = size.width();
    shot.h = size.height();
    shot.name = QStringLiteral("%1-%2.png").arg(local.toString(QStringLiteral("yyyyMMdd-HHmmss"))).arg(n);
    shot.localPath = dayDir + QLatin1Char('/') + shot.name;
    shot.hash = QStringLiteral("%1").arg(qHash(shot.name), 32, 16, QLatin1Char('0'));
    const QString sizeKey = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
    if (const QString earlier = drawn.value(sizeKey); reusePictures && !earlier.isEmpty())
        QFile::copy(earlier, shot.localPath);
    else if (picture(size, n).save(shot.localPath, "PNG"))
        drawn.insert(sizeKey, shot.localPath);
    file.shots << shot;
    return file.shots.last();
}

void PanelRig::signIn()
{
    AccountRecord{QStringLiteral("alice"), QStringLiteral("Alice"), QStringLiteral("token-1"), std::nullopt}.save();
}

AppState& PanelRig::build(GlobalHotkeys* hotkeys)
{
    store = std::make_unique<Store>(data.path());
    store->saveState(file);
    hub = std::make_unique<AppState>(*store, desktop.services(hotkeys, realClipboard));
    return *hub;
}

int PanelRig::saves(const std::function<void()>& action)
{
    QSignalSpy spy(hub.get(), &AppState::changed);
    action();
    return int(spy.count());
}
