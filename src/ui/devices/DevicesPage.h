#pragma once

#include "ui/devices/DeviceCardModel.h"
#include "ui/devices/DeviceCommands.h"
#include "ui/devices/DevicesPageModel.h"

#include <QPointer>
#include <QWidget>

class AppState;
class DeviceCard;
class ElidedLabel;
class InboundSetup;
class KeyAddSheet;
class KeyedWidgetList;
class QCheckBox;
class QLabel;
class QMessageBox;
class QPushButton;
class RenameDeviceSheet;
class ShortCommandSheet;
class StatusLabel;

// The panel's devices page: this machine with its allow-inbound switch, the inbound set-up steps, one card
// per online peer (kept by id), the offline peers folded into one box, and the footer with the link's
// state. While shown it keeps the device link on its fast poll. It owns the page's dialogs.
class DevicesPage : public QWidget {
    Q_OBJECT
public:
    DevicesPage(AppState& app, QWidget* parent = nullptr);

    // What the page asks of the device link per peer (set by the panel).
    DeviceCommands commands;
    // Why making a peer a destination after its connection opened was refused; none when it was not.
    std::function<std::optional<QString>(const QString& deviceID)> syncRefusal;

    void refresh();
    DevicesPageFacts facts() const;
    // Return outside a text field: the first set-up step's button while it is the page's default.
    void pressDefault();

    DeviceCard* card(const QString& peerID) const;
    InboundSetup* setup() const { return inbound; }
    QCheckBox* inboundSwitch() const { return allow; }
    QPushButton* renameButton() const { return rename; }
    QPushButton* refreshButton() const { return reload; }
    QPushButton* offlineToggle() const { return offlineButton; }
    QPushButton* kickButton(const QString& peerID) const;
    QString footerText() const;
    QString footerRole() const;
    // The dialog open now, if any.
    QMessageBox* kickAlert() const;
    KeyAddSheet* keySheet() const;
    ShortCommandSheet* shortSheet() const;
    RenameDeviceSheet* renameSheet() const;

    void askKick(const PeerDevice& peer);
    void openKeySheet(const PeerDevice& peer);
    void openShortSheet();
    void openRenameSheet();
    void setNotice(const QString& text);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildSelf();
    QWidget* buildEmpty();
    QWidget* buildOffline();
    void refreshCards(const DevicesPageModel& model);
    void refreshOffline(const DevicesPageModel& model);
    void stepOne();
    DeviceCardFacts cardFacts(const PeerDevice& peer) const;

    AppState& app;
    bool sharingPanel = false;
    QString notice;
    bool showOffline = false;
    bool wizardExpanded = false;

    QWidget* unavailableBar;
    StatusLabel* unavailableText;
    QWidget* unavailableDivider;
    QLabel* selfName;
    StatusLabel* selfAlias;
    QPushButton* rename;
    StatusLabel* selfStatus;
    QCheckBox* allow;
    StatusLabel* help;
    InboundSetup* inbound;
    QLabel* onlineHeader;
    KeyedWidgetList* cards;
    QWidget* empty;
    StatusLabel* emptyTitle;
    StatusLabel* emptyHint;
    QWidget* offlineBox;
    StatusLabel* offlineSummary;
    QPushButton* offlineButton;
    KeyedWidgetList* offlineRows;
    QList<PeerDevice> offlineList;
    ElidedLabel* footer;
    QPushButton* reload;

    QPointer<QMessageBox> kick;
    QPointer<KeyAddSheet> keyAdd;
    QPointer<ShortCommandSheet> shortCommand;
    QPointer<RenameDeviceSheet> renaming;
};
