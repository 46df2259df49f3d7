#include "ui/devices/DeviceCard.h"

#include "app/AppState.h"
#include "platform/Clipboard.h"
#include "ui/kit/Badge.h"
#include "ui/kit/BusyButton.h"
#include "ui/kit/ElidedField.h"
#include "ui/kit/Parts.h"
#include "ui/kit/RoleMenu.h"
#include "ui/kit/StatusDot.h"
#include "ui/kit/StatusLabel.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Theme.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
constexpr int cornerRadius = 10;
constexpr int indent = 22;


} // namespace

DeviceCard::DeviceCard(AppState& app, const DeviceCommands& commands, QWidget* parent)
    : QFrame(parent), app(app), commands(commands)
{
    setObjectName(QStringLiteral("deviceCard"));
    setFocusPolicy(Qt::ClickFocus); // a click on the card makes Return its own
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(12, 12, 12, 12);
    stack->setSpacing(8);

    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    dot = new StatusDot(10, this);
    dot->setObjectName(QStringLiteral("statusDot"));
    dot->setGlowing(true);
    header->addLayout(Parts::pinnedTop(dot, 5));

    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(6);
    name = Parts::heading(QString(), this);
    name->setObjectName(QStringLiteral("deviceName"));
    name->setTextFormat(Qt::PlainText);
    titleRow->addWidget(name);
    alias = Parts::note("deviceAlias", this, 0);
    alias->setFont(Parts::monospace(std::max(7.0, font().pointSizeF() - 1)));
    alias->setWordWrap(false);
    titleRow->addWidget(alias);
    for (int i = 0; i < 2; ++i) {
        auto* badge = new Badge(QString(), QStringLiteral("green"), this);
        badge->setObjectName(QStringLiteral("deviceBadge%1").arg(i));
        badges << badge;
        titleRow->addWidget(badge);
    }
    titleRow->addStretch(1);
    texts->addLayout(titleRow);
    statusLine = Parts::note("deviceStatusLine", this);
    texts->addWidget(statusLine);
    header->addLayout(texts, 1);

    open = Parts::button("openTunnelButton", QStringLiteral("打通 SSH 连接"), this);
    open->setDefault(true); // the look of Return's button; the page routes Return to the focused card
    connect(open, &QPushButton::clicked, this, [this] {
        if (this->commands.openTunnel)
            this->commands.openTunnel(facts.peer);
    });
    header->addWidget(open, 0, Qt::AlignTop);
    busy = new BusyButton(QString(), this);
    busy->setObjectName(QStringLiteral("tunnelBusy"));
    busy->setFlat(true);
    busy->setEnabled(false);
    busy->setBusy(true);
    header->addWidget(busy, 0, Qt::AlignTop);
    close = Parts::button("closeTunnelButton", QStringLiteral("断开"), this);
    connect(close, &QPushButton::clicked, this, [this] {
        if (this->commands.closeTunnel)
            this->commands.closeTunnel(facts.peer);
    });
    header->addWidget(close, 0, Qt::AlignTop);

    actions = new RoleMenu(this);
    actions->setObjectName(QStringLiteral("deviceMenu"));
    menuButton = Parts::menuButton("deviceMenuButton", actions, this);
    header->addWidget(menuButton, 0, Qt::AlignTop);
    stack->addLayout(header);

    // The connection's detail, under the name.
    detailBox = new QWidget(this);
    auto* detailStack = new QVBoxLayout(detailBox);
    detailStack->setContentsMargins(indent, 0, 0, 0);
    detailStack->setSpacing(6);
    auto* detailRow = new QHBoxLayout;
    detailRow->setSpacing(6);
    detailIcon = new QLabel(detailBox);
    detailRow->addWidget(detailIcon, 0, Qt::AlignTop);
    detailText = Parts::note("tunnelDetail", detailBox, -1);
    detailRow->addWidget(detailText, 1);
    detailStack->addLayout(detailRow);
    failedHint = Parts::note("failedHint", detailBox);
    detailStack->addWidget(failedHint);

    openBox = new QWidget(detailBox);
    auto* openStack = new QVBoxLayout(openBox);
    openStack->setContentsMargins(0, 0, 0, 0);
    openStack->setSpacing(6);
    auto* commandRow = new QHBoxLayout;
    commandRow->setSpacing(6);
    command = new ElidedField(openBox);
    command->setObjectName(QStringLiteral("sshCommand"));
    command->setFont(Parts::monospace(std::max(7.0, font().pointSizeF() - 1)));
    command->setStyleSheet(
        QStringLiteral("QLineEdit { background: palette(window); border: none; border-radius: 6px; padding: 5px 8px; }"));
    commandRow->addWidget(command, 1);
    copy = Parts::button("copyCommandButton", QStringLiteral("复制命令"), openBox);
    connect(copy, &QPushButton::clicked, this, &DeviceCard::copyCommand);
    commandRow->addWidget(copy);
    terminal = Parts::button("terminalButton", QStringLiteral("在终端里打开"), openBox);
    terminal->setDefault(true);
    connect(terminal, &QPushButton::clicked, this, &DeviceCard::runInTerminal);
    commandRow->addWidget(terminal);
    openStack->addLayout(commandRow);
    includeNote = Parts::note("includeNote", openBox);
    openStack->addWidget(includeNote);
    includeRow = new QWidget(openBox);
    auto* includeLine = new QHBoxLayout(includeRow);
    includeLine->setContentsMargins(0, 0, 0, 0);
    includeHint = Parts::note("includeHint", includeRow);
    includeLine->addWidget(includeHint, 1);
    shorten = Parts::button("shortenButton", QStringLiteral("固定成短命令…"), includeRow);
    connect(shorten, &QPushButton::clicked, this, [this] {
        if (onShorten)
            onShorten();
    });
    includeLine->addWidget(shorten, 0, Qt::AlignTop);
    openStack->addWidget(includeRow);
    keepNote = Parts::note("keepNote", openBox);
    openStack->addWidget(keepNote);
    detailStack->addWidget(openBox);
    stack->addWidget(detailBox);

    syncRow = new QWidget(this);
    auto* syncLine = new QHBoxLayout(syncRow);
    syncLine->setContentsMargins(indent, 0, 0, 0);
    syncLine->setSpacing(6);
    auto* photo = new QLabel(syncRow);
    photo->setPixmap(Symbols::tinted(QStringLiteral("photo.on.rectangle"), 14, Theme::color(QStringLiteral("secondary"))));
    syncLine->addWidget(photo, 0, Qt::AlignTop);
    syncText = Parts::note("syncText", syncRow);
    syncLine->addWidget(syncText, 1);
    sync = new QCheckBox(syncRow);
    sync->setObjectName(QStringLiteral("syncSwitch"));
    connect(sync, &QCheckBox::clicked, this, [this](bool on) {
        // The switch follows the registry's list; the click only asks for the change.
        if (!facts.destination)
            return;
        sync->setChecked(facts.destination->enabled);
        this->app.registry().setEnabled(facts.destination->id, on);
    });
    syncLine->addWidget(sync, 0, Qt::AlignTop);
    syncState = Parts::note("syncState", syncRow, -3);
    syncState->setWordWrap(false);
    syncLine->addWidget(syncState, 0, Qt::AlignTop);
    stack->addWidget(syncRow);
}

void DeviceCard::setContent(const DeviceCardFacts& next)
{
    const bool rebuildMenu = !actions->isVisible();
    facts = next;
    const DeviceCardModel model(facts);
    const PeerDevice& peer = facts.peer;

    dot->setColorRole(model.dotRole());
    name->setText(model.displayName());
    alias->setText(peer.alias);
    alias->setVisible(!peer.alias.isEmpty());
    const auto shown = model.badges();
    for (int i = 0; i < badges.size(); ++i) {
        Badge* badge = badges[i];
        badge->setVisible(i < shown.size());
        if (i < shown.size()) {
            badge->setText(shown[i].text);
            badge->setColorRole(shown[i].role);
            badge->setToolTip(shown[i].tooltip);
        }
    }
    statusLine->setText(model.statusLine());
    statusLine->setColorRole(peer.online ? QStringLiteral("secondary") : QStringLiteral("tertiary"));

    const auto action = model.action();
    open->setVisible(action == DeviceCardModel::Action::open);
    open->setEnabled(model.canOpen());
    open->setToolTip(model.openTooltip());
    busy->setVisible(action == DeviceCardModel::Action::busy);
    busy->setText(model.busyText());
    close->setVisible(action == DeviceCardModel::Action::close);

    const auto detail = model.detail();
    const auto hint = model.failedHint();
    const bool isOpen = facts.tunnel.kind == Tunnel::Kind::open;
    detailBox->setVisible(detail.has_value() || isOpen);
    detailText->setVisible(detail.has_value());
    detailIcon->setVisible(detail && !detail->tooltip.isEmpty());
    if (detail) {
        detailText->setText(detail->text);
        detailText->setColorRole(detail->role);
        if (!detail->tooltip.isEmpty()) // the symbol's name
            detailIcon->setPixmap(Symbols::tinted(detail->tooltip, 14, Theme::color(detail->role)));
    }
    failedHint->setVisible(hint.has_value());
    failedHint->setText(hint.value_or(QString()));
    openBox->setVisible(isOpen);
    if (isOpen) {
        command->setFullText(facts.command);
        command->setToolTip(facts.command);
        includeNote->setVisible(facts.sshConfigIncluded);
        includeNote->setText(model.includeNote());
        includeRow->setVisible(!facts.sshConfigIncluded);
        includeHint->setMarkup(model.includeHint());
        keepNote->setVisible(!facts.sshConfigIncluded);
        keepNote->setText(model.keepNote());
    }

    const auto syncLine = model.syncLine();
    syncRow->setVisible(syncLine.has_value());
    if (syncLine) {
        syncText->setText(syncLine->text);
        syncText->setColorRole(syncLine->role);
    }
    sync->setVisible(model.syncSwitchShown());
    syncState->setVisible(model.syncSwitchShown());
    if (facts.destination) {
        sync->setChecked(facts.destination->enabled);
        syncState->setText(facts.destination->enabled ? QStringLiteral("截图同步开") : QStringLiteral("截图同步关"));
    }

    edge = model.border();
    if (rebuildMenu)
        buildMenu();
    update();
}

void DeviceCard::buildMenu()
{
    actions->clear();
    auto add = [this](const char* objectName, const QString& text, auto slot) {
        QAction* action = actions->addAction(text, this, slot);
        action->setObjectName(QString::fromLatin1(objectName));
        return action;
    };
    add("addKeyAction", QStringLiteral("允许它免密登录这台电脑…"), [this] {
        if (onAddKey)
            onAddKey(facts.peer);
    });
    const DeviceCardModel model(facts);
    if (model.hasDestination()) {
        add("reinstallAction", QStringLiteral("截图同步：重新放接收器（接收器升级 / 目录改了）"), [this] {
            if (facts.destination)
                app.registry().reinitialize(facts.destination->id);
        });
        add("closeSyncAction", QStringLiteral("关闭截图同步（移除，对方目录保留）"), [this] { closeSync(); });
    } else {
        QAction* start = add("startSyncAction", QStringLiteral("开启截图同步（把这台设为接收端）"), [this] { startSync(); });
        start->setEnabled(model.canStartSync());
    }
    actions->addSeparator();
    QAction* kick = add("kickAction", QStringLiteral("踢出这台设备…"), [this] {
        if (onKick)
            onKick(facts.peer);
    });
    RoleMenu::setRole(kick, QStringLiteral("red"));
}

bool DeviceCard::pressDefault()
{
    for (QPushButton* button : {open, terminal})
        if (button->isVisibleTo(this) && button->isEnabled()) {
            button->click();
            return true;
        }
    return false;
}

void DeviceCard::notice(const QString& text)
{
    if (onNotice)
        onNotice(text);
}

void DeviceCard::copyCommand()
{
    app.clipboard().writeText(facts.command);
    notice(QStringLiteral("已复制：") + facts.command);
}

void DeviceCard::runInTerminal()
{
    if (app.hidePanel)
        app.hidePanel();
    if (!commands.openTerminal)
        return;
    if (const auto message = commands.openTerminal(facts.peer))
        notice(*message);
}

void DeviceCard::closeSync()
{
    if (!facts.destination)
        return;
    QPointer<DeviceCard> self(this);
    app.registry().remove(facts.destination->id, false, [self](const Outcome<QString>& outcome) {
        if (!self)
            return;
        // The entry is gone either way; a failed clean-up on the other machine says so.
        self->notice(outcome.ok() ? QStringLiteral("已关闭截图同步") : outcome.failure());
    });
}

void DeviceCard::startSync()
{
    const PeerDevice& p = facts.peer;
    const Outcome<Server> added = app.registry().addDevice({p.id, p.name, p.alias, p.sshUser});
    if (!added.ok())
        notice(added.failure().isEmpty() ? QStringLiteral("添加失败") : added.failure());
}

void DeviceCard::paintEvent(QPaintEvent* event)
{
    Parts::paintOutlinedCard(*this, edge.role, edge.opacity, 1, cornerRadius);
    QFrame::paintEvent(event);
}
