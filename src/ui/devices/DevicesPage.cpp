#include "ui/devices/DevicesPage.h"

#include "app/AppState.h"
#include "platform/Clipboard.h"
#include "link/LinkManager.h"
#include "link/RemoteLogin.h"
#include "servers/ServerRegistry.h"
#include "ui/devices/DeviceCard.h"
#include "ui/devices/DeviceRow.h"
#include "ui/devices/InboundSetup.h"
#include "ui/devices/KeyAddSheet.h"
#include "ui/devices/RenameDeviceSheet.h"
#include "ui/devices/ShortCommandSheet.h"
#include "ui/kit/Badge.h"
#include "ui/kit/CoalescedRefresh.h"
#include "ui/kit/ElidedLabel.h"
#include "ui/kit/FilledPanel.h"
#include "ui/kit/KeyedWidgetList.h"
#include "ui/kit/OnScreen.h"
#include "ui/kit/Parts.h"
#include "ui/kit/StatusDot.h"
#include "ui/kit/StatusLabel.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Theme.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {

QLabel* symbol(const QString& name, const QColor& color, int side, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(Symbols::tinted(name, side, color));
    return label;
}

// One folded-away machine: its name, alias, when it was last seen and the way to remove it.
class OfflineRow : public DeviceRow {
public:
    OfflineRow() : DeviceRow(grayDot(), 16, "offlineState", "offlineKickButton")
    {
        alias = Parts::note("offlineAlias", this, -2);
        alias->setFont(Parts::monospace(std::max(7.0, font().pointSizeF() - 2)));
        alias->setWordWrap(false);
        addAfterName(alias);
        button->setText(QStringLiteral("踢出…"));
    }
    void set(const PeerDevice& peer)
    {
        name->setText(peer.shownName());
        alias->setText(peer.alias);
        state->setText(DevicesPageModel::offlineState(peer));
    }
    StatusLabel* alias;

private:
    static StatusDot* grayDot()
    {
        auto* dot = new StatusDot(8);
        dot->setColorRole(QStringLiteral("gray"));
        return dot;
    }
};
} // namespace

DevicesPage::DevicesPage(AppState& app, QWidget* parent) : QWidget(parent), app(app)
{
    setObjectName(QStringLiteral("devicesPage"));
    sharingPanel = RemoteLogin::hasSharingSettings();
    // The link polls fast only while somebody can see the page (not minimised, not hidden).
    new OnScreen(*this, [&link = app.link()](bool shown) {
        link.setPollFast(shown);
        if (shown)
            link.poll();
    });
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);

    unavailableBar = new QWidget(this);
    unavailableBar->setObjectName(QStringLiteral("linkUnavailableBar"));
    unavailableBar->setAutoFillBackground(true);
    QPalette tint = unavailableBar->palette();
    tint.setColor(QPalette::Window, Theme::faded(QStringLiteral("orange"), 0.10));
    unavailableBar->setPalette(tint);
    auto* barRow = new QHBoxLayout(unavailableBar);
    barRow->setContentsMargins(16, 8, 16, 8);
    barRow->setSpacing(8);
    barRow->addWidget(symbol(QStringLiteral("exclamationmark.triangle.fill"), Theme::color(QStringLiteral("orange")), 16, unavailableBar));
    unavailableText = new StatusLabel(QString(), unavailableBar);
    unavailableText->setObjectName(QStringLiteral("linkUnavailableText"));
    unavailableText->setSizeStep(-1);
    barRow->addWidget(unavailableText, 1);
    stack->addWidget(unavailableBar);
    unavailableDivider = Parts::divider(this);
    stack->addWidget(unavailableDivider);

    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("devicesScroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* holder = new QWidget(scroll);
    auto* column = new QVBoxLayout(holder);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(14);
    column->addWidget(buildSelf());

    inbound = new InboundSetup(holder);
    inbound->onExpand = [this](bool expanded) {
        wizardExpanded = expanded;
        refresh();
    };
    inbound->onStepOne = [this] { stepOne(); };
    inbound->onAddKey = [this](const PeerDevice& peer) { openKeySheet(peer); };
    column->addWidget(inbound);

    auto* headerRow = new QHBoxLayout;
    headerRow->setSpacing(8);
    onlineHeader = Parts::heading(QString(), holder);
    onlineHeader->setObjectName(QStringLiteral("onlineHeader"));
    headerRow->addWidget(onlineHeader, 0, Qt::AlignTop);
    auto* headerHint = Parts::note("onlineHint", holder);
    headerHint->setText(QStringLiteral("想连哪台就点它的「打通 SSH 连接」；打通后会给你一条命令，在任何终端里粘贴就能登进去。"));
    headerRow->addWidget(headerHint, 1);
    column->addLayout(headerRow);

    cards = new KeyedWidgetList([this](const QString& key) -> QWidget* {
        auto* card = new DeviceCard(this->app, commands);
        card->onKick = [this](const PeerDevice& peer) { askKick(peer); };
        card->onNotice = [this](const QString& text) { setNotice(text); };
        card->onAddKey = [this](const PeerDevice& peer) { openKeySheet(peer); };
        card->onShorten = [this] { openShortSheet(); };
        for (const PeerDevice& peer : this->app.link().peers())
            if (peer.id == key)
                card->setContent(cardFacts(peer));
        return card;
    }, holder);
    cards->setObjectName(QStringLiteral("deviceList"));
    cards->setSpacing(10);
    column->addWidget(cards);
    empty = buildEmpty();
    column->addWidget(empty);
    offlineBox = buildOffline();
    column->addWidget(offlineBox);
    column->addStretch(1);
    scroll->setWidget(holder);
    stack->addWidget(scroll, 1);

    stack->addWidget(Parts::divider(this));
    auto* footerRow = new QHBoxLayout;
    footerRow->setContentsMargins(16, 6, 16, 6);
    footer = new ElidedLabel(Qt::ElideMiddle, this);
    footer->setObjectName(QStringLiteral("devicesFooter"));
    QFont small = footer->font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() - 2));
    footer->setFont(small);
    footerRow->addWidget(footer, 1);
    reload = Parts::button("refreshButton", QStringLiteral("⟳ 刷新"), this);
    connect(reload, &QPushButton::clicked, this, [this] {
        notice.clear();
        this->app.link().poll();
        refresh();
    });
    footerRow->addWidget(reload);
    stack->addLayout(footerRow);

    auto* refresher = new CoalescedRefresh([this] { refresh(); }, this);
    refresher->follow(&app.link(), &LinkManager::changed);
    refresher->follow(&app.link(), &LinkManager::peersChanged);
    refresher->follow(&app, &AppState::changed);
    refresher->follow(&app.registry(), &ServerRegistry::changed);
    refresh();
}

QWidget* DevicesPage::buildSelf()
{
    auto* panel = new FilledPanel(10, this);
    panel->setObjectName(QStringLiteral("selfSection"));
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(14, 12, 14, 12);
    column->setSpacing(8);
    auto* top = new QHBoxLayout;
    top->setSpacing(10);
    top->addWidget(symbol(QStringLiteral("laptopcomputer"), Theme::color(QStringLiteral("accent")), 26, panel), 0, Qt::AlignTop);
    auto* lines = new QVBoxLayout;
    lines->setSpacing(3);
    auto* first = new QHBoxLayout;
    first->setSpacing(6);
    selfName = Parts::heading(QString(), panel);
    selfName->setObjectName(QStringLiteral("selfName"));
    selfName->setTextFormat(Qt::PlainText);
    first->addWidget(selfName);
    selfAlias = Parts::note("selfAlias", panel, 0);
    selfAlias->setFont(Parts::monospace(std::max(7.0, font().pointSizeF() - 1)));
    selfAlias->setWordWrap(false);
    first->addWidget(selfAlias);
    first->addWidget(new Badge(QStringLiteral("这台电脑"), QStringLiteral("accent"), panel));
    rename = Parts::button("renameButton", QStringLiteral("改名…"), panel);
    connect(rename, &QPushButton::clicked, this, &DevicesPage::openRenameSheet);
    first->addWidget(rename);
    first->addStretch(1);
    lines->addLayout(first);
    selfStatus = Parts::note("selfStatusLine", panel);
    lines->addWidget(selfStatus);
    top->addLayout(lines, 1);
    auto* switchColumn = new QVBoxLayout;
    switchColumn->setSpacing(2);
    allow = new QCheckBox(panel);
    allow->setObjectName(QStringLiteral("allowInboundSwitch"));
    connect(allow, &QCheckBox::clicked, this, [this](bool on) {
        Settings s = app.settings();
        s.remoteAccess = on;
        app.setSettings(s);
        refresh();
    });
    switchColumn->addWidget(allow, 0, Qt::AlignRight);
    auto* allowText = Parts::note("allowInboundText", panel, -3);
    allowText->setWordWrap(false);
    allowText->setText(QStringLiteral("允许其他设备连接这台电脑"));
    switchColumn->addWidget(allowText, 0, Qt::AlignRight);
    top->addLayout(switchColumn);
    column->addLayout(top);
    help = Parts::note("selfHelp", panel);
    column->addWidget(help);
    return panel;
}

QWidget* DevicesPage::buildEmpty()
{
    auto* box = new QWidget(this);
    box->setObjectName(QStringLiteral("devicesEmpty"));
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 24, 0, 24);
    column->setSpacing(8);
    auto* icon = symbol(QStringLiteral("macbook.and.iphone"), Theme::faded(QStringLiteral("secondary"), 0.6), 30, box);
    icon->setAlignment(Qt::AlignCenter);
    column->addWidget(icon);
    emptyTitle = Parts::note("emptyTitle", box, 3);
    emptyTitle->setAlignment(Qt::AlignCenter);
    column->addWidget(emptyTitle);
    emptyHint = Parts::note("emptyHint", box);
    emptyHint->setAlignment(Qt::AlignCenter);
    column->addWidget(emptyHint);
    return box;
}

QWidget* DevicesPage::buildOffline()
{
    auto* panel = new FilledPanel(8, this);
    panel->setObjectName(QStringLiteral("offlineBox"));
    QColor fill = palette().color(QPalette::Base);
    fill.setAlphaF(0.6f);
    panel->setFill(fill);
    panel->setEdge(Qt::transparent);
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(6);
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addWidget(symbol(QStringLiteral("moon.zzz"), Theme::color(QStringLiteral("secondary")), 14, panel));
    offlineSummary = Parts::note("offlineSummary", panel);
    row->addWidget(offlineSummary, 1);
    offlineButton = Parts::button("offlineToggle", QString(), panel);
    connect(offlineButton, &QPushButton::clicked, this, [this] {
        showOffline = !showOffline;
        refresh();
    });
    row->addWidget(offlineButton);
    column->addLayout(row);
    offlineRows = new KeyedWidgetList([this](const QString& key) -> QWidget* {
        auto* row = new OfflineRow;
        connect(row->button, &QPushButton::clicked, this, [this, key] {
            for (const PeerDevice& peer : std::as_const(offlineList))
                if (peer.id == key)
                    askKick(peer);
        });
        return row;
    }, panel);
    offlineRows->setObjectName(QStringLiteral("offlineRows"));
    offlineRows->setSpacing(4);
    column->addWidget(offlineRows);
    return panel;
}

DevicesPageFacts DevicesPage::facts() const
{
    LinkManager& link = app.link();
    DevicesPageFacts f;
    f.available = link.available();
    f.helper = link.helper();
    f.status = link.status();
    f.peers = link.peers();
    f.lastError = link.lastError();
    f.lastPollAt = link.lastPollAt();
    f.remoteAccess = app.settings().remoteAccess;
    if (!f.status)
        f.hostName = LinkManager::machineName();
    f.sshdListening = link.sshdListening();
    f.authorizedKeyIDs = link.authorizedKeyIDs();
    f.sharingPanel = sharingPanel;
    f.notice = notice;
    return f;
}

DeviceCardFacts DevicesPage::cardFacts(const PeerDevice& peer) const
{
    LinkManager& link = app.link();
    DeviceCardFacts f;
    f.peer = peer;
    f.tunnel = commands.tunnelOf(peer);
    f.keyAuthorized = link.authorizedKeyIDs().contains(peer.id);
    f.wanted = link.wantedTunnels().contains(peer.id);
    f.sshConfigIncluded = link.sshConfigIncluded();
    f.command = commands.commandText ? commands.commandText(peer) : QString();
    for (const Server& server : app.registry().servers())
        if (server.deviceID == peer.id) {
            f.destination = server;
            f.destinationStatus = app.registry().status(server.id);
            break;
        }
    if (syncRefusal)
        f.syncRefusal = syncRefusal(peer.id);
    f.hotkeyPaste = app.settings().hotkeyPaste;
    return f;
}

void DevicesPage::refresh()
{
    const DevicesPageModel model(facts());
    const bool available = app.link().available();
    unavailableBar->setVisible(!available);
    unavailableDivider->setVisible(!available);
    unavailableText->setText(app.link().helper().label());

    selfName->setText(model.selfName());
    const auto alias = model.selfAlias();
    selfAlias->setVisible(alias.has_value());
    selfAlias->setText(alias.value_or(QString()));
    rename->setEnabled(model.linkRunning());
    selfStatus->setText(model.selfStatusLine());
    allow->setChecked(app.settings().remoteAccess);
    help->setText(model.helpLine());

    inbound->setVisible(app.settings().remoteAccess);
    // The set-up is no longer complete: the steps show in full again.
    if (!model.wizardComplete())
        wizardExpanded = false;
    inbound->refresh(model, wizardExpanded);

    onlineHeader->setText(model.onlineHeader());
    refreshCards(model);
    refreshOffline(model);

    const auto status = model.footer();
    footer->setText(status.text);
    footer->setToolTip(status.text);
    Theme::applyTextRole(*footer, status.role);
}

void DevicesPage::refreshCards(const DevicesPageModel& model)
{
    const QList<PeerDevice> online = model.onlinePeers();
    QStringList keys;
    for (const PeerDevice& peer : online)
        keys << peer.id;
    cards->setKeys(keys);
    for (const PeerDevice& peer : online)
        if (DeviceCard* c = card(peer.id))
            c->setContent(cardFacts(peer));
    cards->setVisible(!online.isEmpty());
    empty->setVisible(online.isEmpty());
    emptyTitle->setText(model.emptyTitle());
    emptyHint->setText(model.emptyHint());
}

void DevicesPage::refreshOffline(const DevicesPageModel& model)
{
    offlineList = model.offlinePeers();
    offlineBox->setVisible(!offlineList.isEmpty());
    offlineSummary->setText(model.offlineSummary());
    offlineButton->setText(showOffline ? QStringLiteral("收起") : QStringLiteral("查看 / 踢出"));
    QStringList keys;
    if (showOffline)
        for (const PeerDevice& peer : std::as_const(offlineList))
            keys << peer.id;
    offlineRows->setKeys(keys);
    for (const PeerDevice& peer : std::as_const(offlineList))
        if (auto* row = static_cast<OfflineRow*>(offlineRows->widget(peer.id)))
            row->set(peer);
    offlineRows->setVisible(showOffline);
}

DeviceCard* DevicesPage::card(const QString& peerID) const { return cards->widgetAs<DeviceCard>(peerID); }

QPushButton* DevicesPage::kickButton(const QString& peerID) const
{
    QWidget* row = offlineRows->widget(peerID);
    return row ? row->findChild<QPushButton*>(QStringLiteral("offlineKickButton")) : nullptr;
}

QMessageBox* DevicesPage::kickAlert() const { return kick.data(); }
KeyAddSheet* DevicesPage::keySheet() const { return keyAdd.data(); }
ShortCommandSheet* DevicesPage::shortSheet() const { return shortCommand.data(); }
RenameDeviceSheet* DevicesPage::renameSheet() const { return renaming.data(); }

QString DevicesPage::footerText() const { return footer->text(); }

QString DevicesPage::footerRole() const { return footer->property("colorRole").toString(); }

void DevicesPage::setNotice(const QString& text)
{
    notice = text;
    refresh();
}

void DevicesPage::stepOne()
{
    if (!sharingPanel) {
        app.clipboard().writeText(RemoteLogin::enableCommand);
        setNotice(QStringLiteral("已复制：") + RemoteLogin::enableCommand);
        return;
    }
    if (app.hidePanel)
        app.hidePanel();
    RemoteLogin::openSharingSettings();
}

void DevicesPage::pressDefault()
{
    // The card that holds the focus (the card itself or one of its controls) takes Return first.
    for (QWidget* w = window()->focusWidget(); w && w != this; w = w->parentWidget())
        if (auto* focused = qobject_cast<DeviceCard*>(w)) {
            if (focused->pressDefault())
                return;
            break;
        }
    QPushButton* button = inbound->stepOneButton();
    if (inbound->isVisibleTo(this) && !inbound->showsSummary() && button->isVisibleTo(this)
        && button->property("pageDefault").toBool())
        button->click();
}

void DevicesPage::askKick(const PeerDevice& peer)
{
    if (kick)
        kick->close();
    auto* alert = new QMessageBox(QMessageBox::Warning, DevicesPageModel::kickTitle(peer), DevicesPageModel::kickMessage(),
        QMessageBox::NoButton, this);
    alert->setObjectName(QStringLiteral("kickAlert"));
    alert->setTextFormat(Qt::PlainText);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(Qt::WindowModal);
    alert->setStyleSheet(QStringLiteral("QLabel#qt_msgbox_label, QLabel#qt_msgbox_informativelabel { min-width: 340px; }"));
    QPushButton* confirm = alert->addButton(QStringLiteral("踢出"), QMessageBox::DestructiveRole);
    confirm->setObjectName(QStringLiteral("kickConfirm"));
    Theme::applyTextRole(*confirm, QStringLiteral("red"));
    QPushButton* cancel = alert->addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("kickCancel"));
    alert->setDefaultButton(cancel);
    alert->setEscapeButton(cancel);
    // The title bar may not show the title: it leads the text too.
    alert->setText(DevicesPageModel::kickTitle(peer));
    alert->setInformativeText(DevicesPageModel::kickMessage());
    connect(confirm, &QPushButton::clicked, this, [this, peer] {
        if (!commands.remove) {
            setNotice(app.link().helper().label());
            return;
        }
        commands.remove(peer).then(this, [this, peer](const Outcome<>& outcome) {
            setNotice(outcome.ok() ? DevicesPageModel::kickedNotice(peer) : outcome.failure());
        });
    });
    kick = alert;
    alert->open();
}

void DevicesPage::openKeySheet(const PeerDevice& peer)
{
    if (keyAdd)
        keyAdd->close();
    auto* sheet = new KeyAddSheet(peer, app.link(), commands, app.clipboard(), this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    keyAdd = sheet;
    sheet->open();
}

void DevicesPage::openShortSheet()
{
    if (shortCommand)
        shortCommand->close();
    auto* sheet = new ShortCommandSheet(app.link(), commands, app.clipboard(), this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    shortCommand = sheet;
    sheet->open();
}

void DevicesPage::openRenameSheet()
{
    if (renaming)
        renaming->close();
    auto* sheet = new RenameDeviceSheet(app.link(), this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    renaming = sheet;
    sheet->open();
}

void DevicesPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    // Each showing starts afresh.
    notice.clear();
    showOffline = false;
    wizardExpanded = false;
    refresh();
}
