#include "ui/panel/PanelView.h"

#include "account/Account.h"
#include "app/AppState.h"
#include "capture/ShotStore.h"
#include "state/Clock.h"
#include "servers/ServerRegistry.h"
#include "servers/ServersPageState.h"
#include "link/LinkManager.h"
#include "ui/devices/DevicesPage.h"
#include "ui/kit/CoalescedRefresh.h"
#include "ui/kit/Parts.h"
#include "ui/panel/GateBar.h"
#include "ui/panel/PanelHeader.h"
#include "ui/panel/ServerAdvancedSheet.h"
#include "ui/panel/ServersPage.h"
#include "ui/panel/ShotsPage.h"
#include "ui/panel/ThumbnailCache.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

PanelView::PanelView(AppState& app, std::function<void()> closePanel, QWidget* parent)
    : QWidget(parent), app(app), thumbnailCache(std::make_unique<ThumbnailCache>())
{
    setObjectName(QStringLiteral("panelView"));
    setFocusPolicy(Qt::StrongFocus);
    const PanelContext context{app, *thumbnailCache, std::move(closePanel)};
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    header = new PanelHeader(context, this);
    stack->addWidget(header);
    stack->addWidget(Parts::divider(this));
    gate = new GateBar(context, this);
    stack->addWidget(gate);
    gateDivider = Parts::divider(this);
    stack->addWidget(gateDivider);

    pages = new QStackedWidget(this);
    shots = new ShotsPage(context, pages);
    pages->addWidget(shots);
    servers = new ServersPage(context, pages);
    servers->openAdvanced = [this](const QUuid& id) { ServerAdvancedSheet::openFor(this->app, id, this); };
    pages->addWidget(servers);
    devices = new DevicesPage(app, pages);
    devices->syncRefusal = [&app](const QString& id) { return app.deviceSyncRefusal(id); };
    wireDeviceCommands(devices->commands, app.link());
    pages->addWidget(devices);
    stack->addWidget(pages, 1);

    refresher = new CoalescedRefresh([this] { refresh(); }, this);
    refresher->onlyWhileShown(this);
    refresher->follow(&app, &AppState::changed);
    refresher->follow(&app.registry(), &ServerRegistry::changed);
    refresher->follow(&app.serversPage(), &ServersPageState::changed);
    refresher->follow(&app.link(), &LinkManager::changed);
    refresher->follow(&app.link(), &LinkManager::peersChanged);
    link = [&link = app.link()] { return PanelView::linkFacts(link); };
    refresh();
}

PanelView::~PanelView() = default;

void PanelView::wireDeviceCommands(DeviceCommands& commands, LinkManager& link)
{
    commands.tunnel = [&link](const PeerDevice& peer) { return link.tunnel(peer); };
    commands.openTunnel = [&link](const PeerDevice& peer) { link.openTunnel(peer); };
    commands.closeTunnel = [&link](const PeerDevice& peer) { link.closeTunnel(peer); };
    commands.commandText = [&link](const PeerDevice& peer) { return link.commandText(peer); };
    commands.openTerminal = [&link](const PeerDevice& peer) -> std::optional<QString> {
        const Outcome<> opened = link.openTerminal(peer);
        return opened.ok() ? std::nullopt : std::optional<QString>(opened.failure());
    };
    commands.openTerminalApp = &LinkManager::openTerminalApp;
    commands.keyAddCommand = &LinkManager::keyAddCommand;
    commands.remove = [&link](const PeerDevice& peer) { return link.remove(peer); };
}

PanelLink PanelView::linkFacts(const LinkManager& link)
{
    PanelLink facts;
    facts.available = link.available();
    for (const PeerDevice& p : link.peers()) {
        PanelPeer peer;
        peer.name = p.name;
        peer.alias = p.alias;
        peer.online = p.online;
        if (p.link) {
            peer.hasLink = true;
            peer.linkState = p.link->state;
            peer.path = p.link->path;
            peer.peerPath = p.link->peerPath;
            peer.inboundTunnels = int(p.link->inboundTunnels);
        }
        facts.peers << peer;
    }
    return facts;
}

PanelFacts PanelView::facts() const
{
    PanelFacts f;
    ServerRegistry& registry = app.registry();
    f.servers = registry.servers();
    for (const Server& server : std::as_const(f.servers)) {
        const ServerRegistry::Status status = registry.status(server.id);
        f.statuses.insert(server.id, status.kind);
        if (status.kind == ServerRegistry::Status::Kind::failed)
            f.failures.insert(server.id, status.message);
    }
    if (link)
        f.link = link();
    f.settings = app.settings();
    ShotStore& store = app.shots();
    f.paused = store.paused();
    f.todayCount = store.todayCount(Clock::instance().now());
    if (const auto chosen = store.selected())
        if (const auto shot = store.shot(*chosen))
            f.chosenNumber = shot->n;
    f.gateReason = app.account().gateReason();
    f.accountDisabled = app.account().status() == Account::Status::disabled;
    return f;
}

void PanelView::flush() { refresher->flush(); }

void PanelView::setLeastSize(const QSize& size)
{
    least = size;
    updateGeometry();
}

QSize PanelView::minimumSizeHint() const { return QWidget::minimumSizeHint().expandedTo(least); }

void PanelView::refresh()
{
    const PanelModel model(facts());
    const PanelTab tab = app.panelTab();
    header->refresh(model, tab);
    const auto gateLook = model.gateBar();
    gate->refresh(gateLook);
    gateDivider->setVisible(gateLook.has_value());
    pages->setCurrentIndex(int(tab));
    shots->refresh(model);
    servers->refresh();
}

void PanelView::pressDefault()
{
    QPushButton* button = gate->button();
    if (!gate->isHidden() && button->isEnabled()) {
        button->click();
        return;
    }
    if (app.panelTab() == PanelTab::servers)
        servers->pressDefault();
    else if (app.panelTab() == PanelTab::devices)
        devices->pressDefault();
}

void PanelView::keyPressEvent(QKeyEvent* event)
{
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const auto* field = qobject_cast<QLineEdit*>(focusWidget());
    if (isReturn && !(field && !field->isReadOnly())) { // a field being typed in has its own Return
        pressDefault();
        return;
    }
    QWidget::keyPressEvent(event);
}
