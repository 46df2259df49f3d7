#include "ui/settings/SettingsWindowController.h"

#include "ui/settings/AboutView.h"
#include "ui/settings/BehaviorSettings.h"
#include "ui/settings/HotkeySettings.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>

void SettingsWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    hide();
}

SettingsWindowController::SettingsWindowController(AppState& app, QObject* parent)
    : QObject(parent), win(std::make_unique<SettingsWindow>())
{
    win->setObjectName(QStringLiteral("settingsWindow"));
    win->setWindowTitle(QStringLiteral("tarnel 设置"));
    win->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                        | Qt::WindowMinimizeButtonHint | Qt::CustomizeWindowHint);
    win->setFixedSize(width, height);
    auto* layout = new QVBoxLayout(win.get());
    layout->setContentsMargins(12, 12, 12, 12);
    pages = new QTabWidget(win.get());
    pages->setObjectName(QStringLiteral("settingsTabs"));
    behaviorPage = new BehaviorSettings(app, pages);
    hotkeyPage = new HotkeySettings(app, pages);
    aboutPage = new AboutView(app, pages);
    pages->addTab(behaviorPage, QStringLiteral("行为"));
    pages->addTab(hotkeyPage, QStringLiteral("快捷键"));
    pages->addTab(aboutPage, QStringLiteral("关于"));
    layout->addWidget(pages);
    centre();
}

SettingsWindowController::~SettingsWindowController() = default;

void SettingsWindowController::show()
{
    if (!win->isVisible())
        centre();
    win->show();
    win->raise();
    win->activateWindow();
}

void SettingsWindowController::hide() { win->hide(); }

void SettingsWindowController::centre()
{
    QScreen* screen = win->screen() ? win->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = win->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    win->move(frame.topLeft());
}
