#pragma once

#include <QObject>
#include <QWidget>
#include <memory>

class AboutView;
class AppState;
class BehaviorSettings;
class HotkeySettings;
class QTabWidget;

// The settings window: fixed size; closing only hides it, so it reopens on the page last shown.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

protected:
    void closeEvent(QCloseEvent* event) override;
};

// Owns the settings window and its three pages (行为, 快捷键, 关于) for the life of the process.
class SettingsWindowController : public QObject {
    Q_OBJECT
public:
    static constexpr int width = 560;
    static constexpr int height = 620;

    explicit SettingsWindowController(AppState& app, QObject* parent = nullptr);
    ~SettingsWindowController() override;

    // Centres the window when it is hidden, brings it to the front and activates it.
    void show();
    void hide();

    QWidget* window() const { return win.get(); }
    QTabWidget* tabs() const { return pages; }
    BehaviorSettings* behavior() const { return behaviorPage; }
    HotkeySettings* hotkeys() const { return hotkeyPage; }
    AboutView* about() const { return aboutPage; }

private:
    void centre();

    std::unique_ptr<SettingsWindow> win;
    QTabWidget* pages;
    BehaviorSettings* behaviorPage;
    HotkeySettings* hotkeyPage;
    AboutView* aboutPage;
};
