#include "ui/settings/SettingsWindowController.h"

#include "ui/kit/FrameMemory.h"
#include "ui/kit/Parts.h"
#include "ui/settings/AboutView.h"
#include "ui/settings/BehaviorSettings.h"
#include "ui/settings/HotkeySettings.h"

#include <QTabWidget>

SettingsWindowController::SettingsWindowController(AppState& app, QObject* parent)
    : QObject(parent), win(std::make_unique<KeptWindow>())
{
    win->setFixedFrame(QStringLiteral("settingsWindow"), QStringLiteral("tarnel 设置"), QSize(width, height));
    pages = new QTabWidget(win.get());
    pages->setObjectName(QStringLiteral("settingsTabs"));
    behaviorPage = new BehaviorSettings(app, pages);
    hotkeyPage = new HotkeySettings(app, pages);
    aboutPage = new AboutView(app, pages);
    pages->addTab(behaviorPage, QStringLiteral("行为"));
    pages->addTab(hotkeyPage, QStringLiteral("快捷键"));
    pages->addTab(aboutPage, QStringLiteral("关于"));
    Parts::fill(*win, pages, 12);
    frame = new FrameMemory(*win, QStringLiteral("TarnelSettings"));
    frame->place();
}

void SettingsWindowController::show() { frame->present(); }

SettingsWindowController::~SettingsWindowController() = default;
