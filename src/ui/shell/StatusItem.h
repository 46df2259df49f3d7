#pragma once

#include <QObject>
#include <functional>

class AppState;
class QAction;
class QMenu;
class QSystemTrayIcon;

// The tray icon and its menu. A left click opens or closes the panel.
class StatusItem : public QObject {
    Q_OBJECT
public:
    StatusItem(AppState& app, std::function<void()> quit, QObject* parent = nullptr);
    ~StatusItem() override;

    QMenu* menu() const { return contextMenu; }
    QString toolTip() const;
    // Where the icon is on screen, when the tray host tells.
    QRect geometry() const;


private:
    void refresh();

    AppState& app;
    QSystemTrayIcon* tray;
    QMenu* contextMenu;
    QAction* pauseAction;
    QAction* clearAction;
    QAction* folderAction;
    QAction* feedbackAction;
    QAction* settingsAction;
    QAction* checkUpdatesAction;
    QAction* loginAction;
    QAction* signOutAction;
    QAction* quitAction;
};
