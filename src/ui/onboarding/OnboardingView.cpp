#include "ui/onboarding/OnboardingView.h"

#include "app/AppState.h"
#include "link/LinkManager.h"
#include "servers/ServerRegistry.h"
#include "servers/ServersPageState.h"
#include "ui/kit/CoalescedRefresh.h"
#include "ui/kit/KeyedWidgetList.h"
#include "ui/kit/Parts.h"
#include "ui/kit/StatusLabel.h"
#include "ui/kit/SymbolNote.h"
#include "ui/kit/Symbols.h"
#include "ui/onboarding/ChoiceCard.h"
#include "ui/onboarding/StepBox.h"
#include "ui/panel/AddServerBox.h"
#include "ui/panel/ServerAdvancedSheet.h"
#include "ui/panel/ServerCard.h"

#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {
// An area without margins whose column spaces its rows 8 pixels apart.
QWidget* bare(QWidget* parent, QVBoxLayout*& column, const char* name = "")
{
    auto* area = new QWidget(parent);
    area->setObjectName(QString::fromLatin1(name));
    column = new QVBoxLayout(area);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    return area;
}

QString key(const QUuid& id) { return id.toString(QUuid::WithoutBraces); }
} // namespace


OnboardingView::OnboardingView(AppState& app, std::function<void()> onFinish, QWidget* parent)
    : QWidget(parent), app(app), onFinish(std::move(onFinish)), refresher(new CoalescedRefresh([this] { refresh(); }, this))
{
    setObjectName(QStringLiteral("onboardingView"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildHeader());
    column->addWidget(Parts::divider(this, QFrame::Sunken));

    scroll = Parts::verticalScroll(this);
    scroll->setObjectName(QStringLiteral("stepList"));
    auto* list = new QWidget(scroll);
    auto* listColumn = new QVBoxLayout(list);
    listColumn->setContentsMargins(20, 20, 20, 20);
    listColumn->setSpacing(18);
    for (int n = 1; n <= 4; ++n) {
        steps[n - 1] = new StepBox(n, list);
        listColumn->addWidget(steps[n - 1]);
    }
    listColumn->addStretch(1);
    buildPermission(steps[0]);
    buildTarget(steps[1]);
    buildSetup(steps[2]);
    buildTray(steps[3]);
    scroll->setWidget(list);
    column->addWidget(scroll, 1);
    column->addWidget(Parts::divider(this, QFrame::Sunken));
    column->addWidget(buildFooter());

    refresher->onlyWhileShown(this);
    refresher->follow(&app, &AppState::changed);
    refresh();
}

QWidget* OnboardingView::buildHeader()
{
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(16, 16, 16, 16);
    row->setSpacing(12);
    auto* icon = new QLabel(header);
    icon->setPixmap(Symbols::pixmap(Symbols::appIcon(), 48));
    row->addWidget(icon, 0, Qt::AlignTop);
    auto* names = new QVBoxLayout;
    names->setSpacing(3);
    names->addWidget(Parts::heading(QStringLiteral("tarnel · 开始设置"), header, 5));
    intro = Parts::text(QStringLiteral("secondary"), -2, header);
    intro->setObjectName(QStringLiteral("introText"));
    names->addWidget(intro);
    row->addLayout(names, 1);
    return header;
}

QWidget* OnboardingView::buildFooter()
{
    auto* footer = new QWidget(this);
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(20, 12, 20, 12);
    progress = Parts::text(QStringLiteral("secondary"), -2, footer);
    progress->setObjectName(QStringLiteral("progressText"));
    row->addWidget(progress, 1);
    later = Parts::button("laterButton", QStringLiteral("稍后再说"), footer);
    connect(later, &QPushButton::clicked, this, [this] {
        if (this->onFinish)
            this->onFinish();
    });
    finish = Parts::button("finishButton", QStringLiteral("知道了，开始用"), footer);
    finish->setDefault(true);
    connect(finish, &QPushButton::clicked, this, &OnboardingView::finishOnboarding);
    row->addWidget(later);
    row->addWidget(finish);
    return footer;
}

void OnboardingView::buildPermission(StepBox* step)
{
    permissionDone = new SymbolNote(QStringLiteral("checkmark.circle.fill"), QStringLiteral("green"), step);
    permissionDone->setObjectName(QStringLiteral("permissionDone"));
    step->content()->addWidget(permissionDone);
    QVBoxLayout* column = nullptr;
    permissionRequest = bare(step, column);
    permissionText = Parts::text(QString(), -1, permissionRequest);
    permissionText->setObjectName(QStringLiteral("permissionText"));
    column->addWidget(permissionText);
    auto* row = new QHBoxLayout;
    // Nothing on this desktop grants typing: the one way forward is the mode that needs no permission.
    QPushButton* zero = Parts::button("zeroPermissionButton", QStringLiteral("不想授权？用零权限模式"), permissionRequest);
    connect(zero, &QPushButton::clicked, this, [this] {
        Settings s = this->app.settings();
        s.pasteMode = PasteMode::zeroPermission;
        this->app.setSettings(s);
    });
    row->addWidget(zero);
    row->addStretch(1);
    column->addLayout(row);
    step->content()->addWidget(permissionRequest);
}

void OnboardingView::buildTarget(StepBox* step)
{
    step->setTitle(QStringLiteral("你想把截图传到哪 / 连什么？"));
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    for (const OnboardingModel::Choice& c : OnboardingModel::choices()) {
        auto* card = new ChoiceCard(c.title, c.detail, step);
        card->setObjectName(QStringLiteral("choice_") + c.tag);
        connect(card, &ChoiceCard::clicked, this, [this, tag = c.tag] { choose(tag); });
        row->addWidget(card, 1);
        choices << std::pair{c.tag, card};
    }
    step->content()->addLayout(row);
    targetHint = Parts::text(QStringLiteral("secondary"), -2, step,
                      QStringLiteral("选错了可以再点别的；两种都要的话先做一种，另一种之后在面板里加。"));
    targetHint->setObjectName(QStringLiteral("targetHint"));
    step->content()->addWidget(targetHint);
}

void OnboardingView::buildSetup(StepBox* step)
{
    setupArea = new QWidget(step);
    serverContent = buildServerContent();
    deviceContent = buildDeviceContent();
    noneContent = buildNoneContent();
    noContent = new QWidget(setupArea);
    auto* column = new QVBoxLayout(setupArea);
    column->setContentsMargins(0, 0, 0, 0);
    for (QWidget* page : {serverContent, deviceContent, noneContent, noContent})
        column->addWidget(page);
    step->content()->addWidget(setupArea);
}

QWidget* OnboardingView::buildServerContent()
{
    QVBoxLayout* column = nullptr;
    QWidget* area = bare(setupArea, column, "serverSetup");
    connectedNote = new SymbolNote(QStringLiteral("checkmark.circle.fill"), QStringLiteral("green"), area);
    connectedNote->setObjectName(QStringLiteral("connectedNote"));
    column->addWidget(connectedNote);
    box = new AddServerBox(app.registry(), app.serversPage(), false, area);
    column->addWidget(box);
    cards = new KeyedWidgetList([this](const QString& id) -> QWidget* {
        auto* card = new ServerCard(app);
        card->openAdvanced = [this](const QUuid& server) { ServerAdvancedSheet::openFor(app, server, this); };
        if (const auto server = app.registry().server(QUuid(id)))
            card->setContent(*server, app.registry().status(server->id), false);
        return card;
    }, area);
    cards->setObjectName(QStringLiteral("onboardingServers"));
    cards->setSpacing(8);
    column->addWidget(cards);
    column->addWidget(demoBlock(area));
    return area;
}

QWidget* OnboardingView::buildDeviceContent()
{
    QVBoxLayout* column = nullptr;
    QWidget* area = bare(setupArea, column, "deviceSetup");
    deviceIntro = Parts::text(QString(), 0, area);
    deviceIntro->setObjectName(QStringLiteral("deviceIntro"));
    column->addWidget(deviceIntro);
    StatusLabel* howTo = Parts::text(QString(), -1, area);
    howTo->setObjectName(QStringLiteral("deviceSteps"));
    howTo->setMarkup(OnboardingModel::deviceSteps());
    column->addWidget(howTo);
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    openDevices = Parts::button("openDevicesButton", QStringLiteral("打开「设备」页"), area);
    connect(openDevices, &QPushButton::clicked, this, [this] {
        app.setPanelTab(PanelTab::devices);
        if (app.togglePanel)
            app.togglePanel();
    });
    row->addWidget(openDevices);
    allowInbound = Parts::button("allowInboundButton", QStringLiteral("这台要被别人连：允许其他设备连接这台电脑"), area);
    connect(allowInbound, &QPushButton::clicked, this, [this] {
        Settings s = app.settings();
        s.remoteAccess = true;
        app.setSettings(s);
    });
    row->addWidget(allowInbound);
    inboundAllowed = new SymbolNote(QStringLiteral("checkmark.circle.fill"), QStringLiteral("green"), area);
    inboundAllowed->setObjectName(QStringLiteral("inboundAllowed"));
    inboundAllowed->setText(QStringLiteral("这台已允许被连接"));
    row->addWidget(inboundAllowed);
    row->addStretch(1);
    column->addLayout(row);
    column->addWidget(demoBlock(area));
    return area;
}

QWidget* OnboardingView::buildNoneContent()
{
    QVBoxLayout* column = nullptr;
    QWidget* area = bare(setupArea, column, "noneSetup");
    column->addWidget(Parts::text(QString(), -1, area,
        QStringLiteral("点托盘里的 tarnel 图标 → 「服务器」页粘地址点连接；「设备」页看同账号的其他电脑。没连任何东西时截图也会存在本机，面板里能看、能复制路径。")));
    column->addWidget(demoBlock(area));
    return area;
}

QWidget* OnboardingView::demoBlock(QWidget* parent)
{
    auto* area = new QWidget(parent);
    area->setObjectName(QStringLiteral("demoBlock"));
    auto* column = new QVBoxLayout(area);
    column->setContentsMargins(0, 4, 0, 0);
    column->setSpacing(6);
    StatusLabel* lead = Parts::text(QString(), -1, area);
    column->addWidget(lead);
    auto* sample = new QLabel(area);
    sample->setObjectName(QStringLiteral("demoLine"));
    sample->setTextFormat(Qt::PlainText);
    sample->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(12);
    sample->setFont(mono);
    sample->setStyleSheet(QStringLiteral("QLabel { background: palette(base); border-radius: 6px; padding: 8px; }"));
    column->addWidget(sample);
    column->addWidget(Parts::text(QStringLiteral("secondary"), -2, area, QStringLiteral("不会自动回车——想粘几张就按几次，再补一句话回车。")));
    demos << std::pair{lead, sample};
    return area;
}

void OnboardingView::buildTray(StepBox* step)
{
    step->setTitle(QStringLiteral("以后在哪找它"));
    trayNote = new SymbolNote(QStringLiteral("menubar.rectangle"), QString(), step);
    step->content()->addWidget(trayNote);
    trayTips = Parts::text(QString(), -1, step);
    trayTips->setObjectName(QStringLiteral("trayTips"));
    step->content()->addWidget(trayTips);
}

OnboardingModel OnboardingView::model() const
{
    OnboardingModel::Facts facts;
    facts.settings = app.settings();
    facts.trusted = app.accessibilityTrusted();
    facts.wayland = app.waylandSession();
    facts.peerCount = int(app.link().peers().size());
    facts.servers = app.registry().servers();
    for (const Server& server : std::as_const(facts.servers))
        facts.connected.insert(server.id, app.registry().status(server.id).kind == ServerRegistry::Status::Kind::connected);
    return OnboardingModel(facts);
}

ChoiceCard* OnboardingView::choice(const QString& tag) const
{
    for (const auto& [cardTag, card] : choices)
        if (cardTag == tag)
            return card;
    return nullptr;
}

ServerCard* OnboardingView::card(const QUuid& id) const { return cards->widgetAs<ServerCard>(key(id)); }

void OnboardingView::flush() { refresher->flush(); }

void OnboardingView::refresh()
{
    const OnboardingModel m = model();
    const Settings& s = app.settings();
    intro->setText(m.intro());
    for (int n = 1; n <= 4; ++n) {
        const OnboardingModel::Frame frame = m.frame(n);
        steps[n - 1]->setState(frame.done, frame.active, frame.expanded());
    }

    steps[0]->setTitle(m.accessibilityTitle());
    const bool asked = m.permission() == OnboardingModel::Permission::request;
    permissionDone->setVisible(!asked);
    permissionDone->setText(asked ? QString() : m.permissionText());
    permissionRequest->setVisible(asked);
    permissionText->setText(asked ? m.permissionText() : QString());

    for (const auto& [tag, card] : std::as_const(choices))
        card->setSelected(s.onboardingTarget == tag);
    targetHint->setVisible(m.targetDone());

    steps[2]->setTitle(m.setupTitle());
    QWidget* page = noContent;
    switch (m.target()) {
    case OnboardingModel::Target::server: page = serverContent; break;
    case OnboardingModel::Target::device: page = deviceContent; break;
    case OnboardingModel::Target::none: page = noneContent; break;
    case OnboardingModel::Target::noChoice: break;
    }
    const bool pageChanged = setupPage != page;
    // Only the branch shown takes room: the step is as tall as that branch.
    for (QWidget* branch : {serverContent, deviceContent, noneContent, noContent})
        branch->setVisible(branch == page);
    setupPage = page;
    const auto connected = m.connectedServer();
    connectedNote->setVisible(m.setupDone() && connected);
    if (connected)
        connectedNote->setText(m.connectedText(*connected));
    QStringList keys;
    for (const Server& server : app.registry().servers())
        keys << key(server.id);
    const bool cardsCame = keys != cards->keys();
    cards->setKeys(keys);
    cards->setVisible(!keys.isEmpty());
    for (const Server& server : app.registry().servers())
        if (ServerCard* c = card(server.id))
            c->setContent(server, app.registry().status(server.id), false);
    box->refresh();
    // A card that came in lays the window out now: no paint shows the rows under it squeezed.
    if (cardsCame)
        Parts::settle(*cards);
    // The address field takes the keyboard when the server step comes into view, while nothing is connected.
    if (page == serverContent && !connected && (pageChanged || !focusedBox) && isVisible()) {
        box->field()->setFocus();
        focusedBox = true;
    }
    deviceIntro->setMarkup(m.deviceIntro());
    allowInbound->setVisible(!s.remoteAccess);
    inboundAllowed->setVisible(s.remoteAccess);
    for (const auto& [lead, sample] : std::as_const(demos)) {
        lead->setMarkup(m.demoIntro());
        sample->setText(m.demoLine(page == serverContent ? connected : std::nullopt));
    }

    QPushButton* pressed = defaultButton();
    finish->setDefault(pressed == finish);
    openDevices->setDefault(pressed == openDevices);

    trayNote->setText(m.trayText());
    trayTips->setText(m.trayTips());
    progress->setText(m.footer());

    const int active = m.activeStep();
    if (shownActive != 0 && active != shownActive)
        scrollTo(active);
    shownActive = active;
}

void OnboardingView::scrollTo(int number)
{
    // After the layout took the new contents in, so the step's place is where it will be drawn.
    QMetaObject::invokeMethod(this, [this, number] {
        scroll->widget()->layout()->activate();
        scroll->verticalScrollBar()->setValue(steps[number - 1]->y());
    }, Qt::QueuedConnection);
}

void OnboardingView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    focusedBox = false;
    refresher->request();
}

void OnboardingView::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && !qobject_cast<QLineEdit*>(focusWidget())) {
        defaultButton()->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

QPushButton* OnboardingView::defaultButton() const
{
    const bool deviceShown = setupPage == deviceContent && steps[2]->expanded();
    return deviceShown ? openDevices : finish;
}

void OnboardingView::choose(const QString& tag)
{
    Settings s = app.settings();
    s.onboardingTarget = tag;
    app.setSettings(s);
}

void OnboardingView::finishOnboarding()
{
    if (app.settings().onboardingTarget.isEmpty())
        choose(QStringLiteral("none"));
    Settings s = app.settings();
    s.onboardingDone = true;
    app.setSettings(s);
    if (onFinish)
        onFinish();
}
