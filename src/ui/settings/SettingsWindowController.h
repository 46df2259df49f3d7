#pragma once

#include "ui/kit/KeptWindow.h"

#include <QObject>
#include <memory>

class AboutView;
class AppState;
class BehaviorSettings;
class FrameMemory;
class HotkeySettings;
class QTabWidget;

// Owns the settings window and its three pages (行为, 快捷键, 关于) for the life of the process; closing
// only hides it, so it reopens on the page last shown.
class SettingsWindowController : public QObject {
    Q_OBJECT
public:
    static constexpr int width = 560;
    static constexpr int height = 620;

    explicit SettingsWindowController(AppState& app, QObject* parent = nullptr);
    ~SettingsWindowController() override;

    // Puts the window where it was last (or centres it) when it is hidden, brings it to the front and
    // activates it.
    void show();
    void hide() { win->hide(); }

    QWidget* window() const { return win.get(); }
    QTabWidget* tabs() const { return pages; }
    BehaviorSettings* behavior() const { return behaviorPage; }
    HotkeySettings* hotkeys() const { return hotkeyPage; }
    AboutView* about() const { return aboutPage; }

private:
    std::unique_ptr<KeptWindow> win;
    QTabWidget* pages;
    BehaviorSettings* behaviorPage;
    HotkeySettings* hotkeyPage;
    AboutView* aboutPage;
    FrameMemory* frame;
};
