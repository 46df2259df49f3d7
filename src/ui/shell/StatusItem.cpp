#include "ui/shell/StatusItem.h"

#include "account/Account.h"
#include "app/AppState.h"
#include "capture/ClipboardWatcher.h"
#include "capture/ShotStore.h"
#include "state/Paths.h"
#include "ui/kit/Symbols.h"

#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QSystemTrayIcon>
#include <QUrl>

StatusItem::StatusItem(AppState& app, std::function<void()> quit, QObject* parent)
    : QObject(parent), app(app), tray(new QSystemTrayIcon(Symbols::trayGlyph(), this)), contextMenu(new QMenu)
{
    contextMenu->setObjectName(QStringLiteral("statusMenu"));
    pauseAction = contextMenu->addAction(QString(), this, [&app] {
        app.setPaused(!app.shots().paused());
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
