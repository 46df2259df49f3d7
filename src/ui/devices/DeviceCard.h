#pragma once

#include "ui/devices/DeviceCardModel.h"
#include "ui/devices/DeviceCommands.h"

#include <QFrame>
#include <functional>

class AppState;
class Badge;
class ElidedField;
class QCheckBox;
class QLabel;
class QMenu;
class QPushButton;
class QToolButton;
class StatusDot;
class StatusLabel;
class BusyButton;

// One other machine of the account on the devices page: how its link stands, its ssh connection (open,
// close, the command to copy or run in a terminal) and its role as a shot destination. Dialogs belong to
// the page, reached through the callbacks. The page keeps one card per peer id; `setContent` changes only
// texts and states.
class DeviceCard : public QFrame {
    Q_OBJECT
public:
    DeviceCard(AppState& app, const DeviceCommands& commands, QWidget* parent = nullptr);

    void setContent(const DeviceCardFacts& facts);
    const PeerDevice& peer() const { return facts.peer; }

    std::function<void(const PeerDevice&)> onKick;
    std::function<void(const QString&)> onNotice;
    std::function<void(const PeerDevice&)> onAddKey;
    std::function<void()> onShorten;

    QMenu* menu() const { return actions; }
    QPushButton* openButton() const { return open; }
    QPushButton* closeButton() const { return close; }
    QPushButton* copyButton() const { return copy; }
    QPushButton* terminalButton() const { return terminal; }
    QCheckBox* syncSwitch() const { return sync; }
    ElidedField* commandField() const { return command; }

    // Return on the card: presses "打通 SSH 连接" or "在终端里打开", whichever is shown and enabled;
    // false when neither is.
    bool pressDefault();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void buildMenu();
    void copyCommand();
    void runInTerminal();
    void closeSync();
    void startSync();
    void notice(const QString& text);

    AppState& app;
    const DeviceCommands& commands;
    DeviceCardFacts facts;
    DeviceCardModel::Border edge;

    StatusDot* dot;
    QLabel* name;
    StatusLabel* alias;
    QList<Badge*> badges;
    StatusLabel* statusLine;
    QPushButton* open;
    BusyButton* busy;
    QPushButton* close;
    QToolButton* menuButton;
    QMenu* actions;

    QWidget* detailBox;
    QLabel* detailIcon;
    StatusLabel* detailText;
    StatusLabel* failedHint;
    QWidget* openBox;
    ElidedField* command;
    QPushButton* copy;
    QPushButton* terminal;
    StatusLabel* includeNote;
    QWidget* includeRow;
    StatusLabel* includeHint;
    QPushButton* shorten;
    StatusLabel* keepNote;

    QWidget* syncRow;
    StatusLabel* syncText;
    QCheckBox* sync;
    StatusLabel* syncState;
};
