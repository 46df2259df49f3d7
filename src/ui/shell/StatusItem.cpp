#include "ui/shell/StatusItem.h"

#include "account/Account.h"
#include "app/AppState.h"
#include "capture/ClipboardWatcher.h"
#include "capture/ShotStore.h"
#include "state/Paths.h"

#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QSystemTrayIcon>
#include <QUrl>

StatusItem::StatusItem(AppState& app, std::function<void()> quit, QObject* parent)
    : QObject(parent), app(app), tray(new QSystemTrayIcon(glyph(), this)), contextMenu(new QMenu)
{
    contextMenu->setObjectName(QStringLiteral("statusMenu"));
    pauseAction = contextMenu->addAction(QString(), this, [&app] {
        const bool paused = !app.shots().paused();
        app.shots().setPaused(paused);
        app.watcher().setPaused(paused);
    });
    pauseAction->setObjectName(QStringLiteral("pauseAction"));
    clearAction = contextMenu->addAction(QStringLiteral("🗑 清空全部"), this, [&app] { app.clearAll(); });
    clearAction->setObjectName(QStringLiteral("clearAction"));
    folderAction = contextMenu->addAction(QStringLiteral("📂 打开截图目录"), this,
                                          [&app] {
                                              // Made first: before the first shot there is no folder to open.
                                              Paths::ensure(app.shots().shotsDirectory());
                                              app.openPath(app.shots().shotsDirectory());
                                          });
    folderAction->setObjectName(QStringLiteral("folderAction"));
    checkUpdatesAction = contextMenu->addAction(QStringLiteral("检查更新…"), this, [&app] { app.checkUpdates(); });
    checkUpdatesAction->setObjectName(QStringLiteral("checkUpdatesAction"));
    feedbackAction = contextMenu->addAction(QStringLiteral("💬 反馈问题…"), this, [&app] {
        if (app.showFeedbackWindow)
            app.showFeedbackWindow();
    });
    feedbackAction->setObjectName(QStringLiteral("feedbackAction"));
    settingsAction = contextMenu->addAction(QStringLiteral("设置…"), this, [&app] {
        if (app.openSettings)
            app.openSettings();
    });
    settingsAction->setObjectName(QStringLiteral("settingsAction"));
    contextMenu->addSeparator();
    loginAction = contextMenu->addAction(QStringLiteral("登录 / 注册…"), this, [&app] {
        if (app.showLoginWindow)
            app.showLoginWindow(false);
    });
    loginAction->setObjectName(QStringLiteral("loginAction"));
    signOutAction = contextMenu->addAction(QStringLiteral("退出登录"), this, [&app] { app.account().signOut(); });
    signOutAction->setObjectName(QStringLiteral("signOutAction"));
    contextMenu->addSeparator();
    quitAction = contextMenu->addAction(QStringLiteral("退出 tarnel"), this, [quit] { quit(); });
    quitAction->setObjectName(QStringLiteral("quitAction"));

    tray->setContextMenu(contextMenu);
    connect(tray, &QSystemTrayIcon::activated, this, [&app](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && app.togglePanel)
            app.togglePanel();
    });
    connect(&app, &AppState::changed, this, &StatusItem::refresh);
    connect(&app.shots(), &ShotStore::changed, this, &StatusItem::refresh);
    connect(&app.account(), &Account::changed, this, &StatusItem::refresh);
    refresh();
    tray->show();
}

StatusItem::~StatusItem() { delete contextMenu; }

QString StatusItem::toolTip() const { return tray->toolTip(); }

QRect StatusItem::geometry() const { return tray->geometry(); }

void StatusItem::refresh()
{
    const bool usable = app.account().isUsable();
    pauseAction->setText(app.shots().paused() ? QStringLiteral("▶︎ 继续上传") : QStringLiteral("⏸ 暂停上传"));
    loginAction->setVisible(!usable);
    settingsAction->setVisible(bool(app.openSettings));
    signOutAction->setVisible(app.account().record().has_value());
    tray->setToolTip(usable ? QStringLiteral("tarnel") : QStringLiteral("tarnel · 还没登录"));
}

QIcon StatusItem::glyph()
{
    // A viewfinder's four corners with a chain link inside, light on a dark rim so it shows on any panel.
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const int a = 6, b = 58, l = 14;
    const QList<QPolygon> corners = {QPolygon({QPoint(a, a + l), QPoint(a, a), QPoint(a + l, a)}),
                                     QPolygon({QPoint(b - l, a), QPoint(b, a), QPoint(b, a + l)}),
                                     QPolygon({QPoint(a, b - l), QPoint(a, b), QPoint(a + l, b)}),
                                     QPolygon({QPoint(b - l, b), QPoint(b, b), QPoint(b, b - l)})};
    for (const auto& [colour, width] : {std::pair{QColor(30, 30, 30), 9}, std::pair{QColor(245, 245, 245), 5}}) {
        p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        for (const QPolygon& corner : corners)
            p.drawPolyline(corner);
        p.setPen(QPen(colour, width - 1));
        p.drawRoundedRect(QRectF(15, 24, 20, 13), 6.5, 6.5);
        p.drawRoundedRect(QRectF(29, 27, 20, 13), 6.5, 6.5);
    }
    p.end();
    return QIcon(pixmap);
}
