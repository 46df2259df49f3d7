#pragma once

#include "servers/ServerRegistry.h"
#include "state/Server.h"

#include <QFrame>
#include <QTimer>
#include <functional>
#include <optional>
#include <utility>

class AppState;
class Badge;
class OnScreen;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QToolButton;
class StatusDot;
class StatusLabel;

// One server of the servers page: status dot, name and status line, the sync switch, the maintenance
// menu, and for a failed connection "重试" or the login form. The page keeps one card per server id for
// as long as the server is listed; `setContent` changes only texts and states, so what the user typed
// into the form survives every republication.
class ServerCard : public QFrame {
    Q_OBJECT
public:
    using Status = ServerRegistry::Status;

    explicit ServerCard(AppState& app, QWidget* parent = nullptr);

    void setContent(const Server& server, const Status& status, bool highlighted);
    const Server& server() const { return current; }

    // Opens the advanced sheet of this server (set by the page).
    std::function<void(const QUuid&)> openAdvanced;

    QMenu* menu() const { return actions; }
    QLineEdit* userField() const { return formUser; }
    QLineEdit* passwordField() const { return formPassword; }
    QPushButton* loginButton() const { return login; }
    QPushButton* retryButton() const { return retry; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Builds the menu again when it was built for another kind of destination or key state.
    void syncMenu();
    void buildMenu();
    void updateStatusLine();
    // Ticks while the card is on screen and connecting.
    void followTicker();
    void submitCredentials();
    void reconnect();
    void showDeviceScript();
    void remove(bool purge);

    AppState& app;
    Server current;
    Status status;
    bool highlighted = false;
    bool filledUser = false;
    std::optional<std::pair<bool, bool>> menuBuiltFor; // (linked machine, key installed)

    StatusDot* dot;
    QLabel* name;
    StatusLabel* port;
    Badge* deviceBadge;
    StatusLabel* hostname;
    StatusLabel* statusLine;
    QWidget* syncColumn;
    QCheckBox* sync;
    StatusLabel* syncText;
    QToolButton* menuButton;
    QMenu* actions;
    QWidget* failureRow;
    QPushButton* retry;
    QWidget* form;
    QLineEdit* formUser;
    QLineEdit* formPassword;
    QPushButton* login;
    StatusLabel* formNote;
    QTimer ticker; // the connecting line's seconds, while they are on screen
    OnScreen* onScreen;
};
