#include "ui/panel/ServersPage.h"

#include "app/AppState.h"
#include "capture/ShotStore.h"
#include "servers/ServerRegistry.h"
#include "servers/ServersPageState.h"
#include "state/AppInfo.h"
#include "state/Clock.h"
#include "state/Paths.h"
#include "ui/kit/ElidedLabel.h"
#include "ui/kit/KeyedWidgetList.h"
#include "ui/kit/Parts.h"
#include "ui/kit/StatusLabel.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Theme.h"
#include "ui/panel/AddServerBox.h"
#include "ui/panel/ServerCard.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {
QLabel* symbolLabel(const QString& symbol, const QString& role, int side, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(Symbols::tinted(symbol, side, Theme::color(role)));
    return label;
}

QWidget* tintedBar(const char* name, const QString& role, double opacity, QWidget* parent)
{
    auto* bar = new QWidget(parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setAutoFillBackground(true);
    QPalette tint = bar->palette();
    tint.setColor(QPalette::Window, Theme::faded(role, opacity));
    bar->setPalette(tint);
    return bar;
}
} // namespace

ServersPage::ServersPage(PanelContext context, QWidget* parent) : QWidget(parent), context(std::move(context))
{
    setObjectName(QStringLiteral("serversPage"));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    onboardingBar = buildOnboardingBar();
    accessibilityBar = buildAccessibilityBar();
    barDivider = Parts::divider(this);
    stack->addWidget(onboardingBar);
    stack->addWidget(accessibilityBar);
    stack->addWidget(barDivider);

    auto* adding = new QWidget(this);
    auto* addColumn = new QVBoxLayout(adding);
    addColumn->setContentsMargins(16, 16, 16, 16);
    addColumn->setSpacing(8);
    addColumn->addWidget(Parts::heading(QStringLiteral("添加服务器"), adding));
    box = new AddServerBox(this->context.app.registry(), this->context.app.serversPage(), true, adding);
    addColumn->addWidget(box);
    stack->addWidget(adding);
    stack->addWidget(Parts::divider(this));

    body = new QStackedWidget(this);
    scroll = Parts::verticalScroll(body);
    scroll->setObjectName(QStringLiteral("serverScroll"));
    AppState& app = this->context.app;
    cards = new KeyedWidgetList([this, &app](const QString& key) -> QWidget* {
        auto* card = new ServerCard(app);
        card->openAdvanced = [this](const QUuid& id) {
            if (openAdvanced)
                openAdvanced(id);
        };
        const QUuid id(key);
        if (const auto server = app.registry().server(id))
            card->setContent(*server, app.registry().status(id), app.serversPage().highlighted() == id);
        return card;
    });
    cards->setObjectName(QStringLiteral("serverList"));
    cards->setSpacing(10);
    auto* holder = new QWidget(scroll);
    auto* holderStack = new QVBoxLayout(holder);
    holderStack->setContentsMargins(16, 16, 16, 16);
    holderStack->addWidget(cards);
    holderStack->addStretch(1);
    scroll->setWidget(holder);
    // A card is built as it comes into view.
    cards->buildWhenInView(scroll);
    empty = buildEmptyState();
    body->addWidget(scroll);
    body->addWidget(empty);
    stack->addWidget(body, 1);
    stack->addWidget(Parts::divider(this));

    auto* footerRow = new QHBoxLayout;
    footerRow->setContentsMargins(16, 8, 16, 8);
    footerRow->setSpacing(6);
    footerSymbol = new QLabel(this);
    footerSymbol->setObjectName(QStringLiteral("footerSymbol"));
    footerSymbol->hide();
    footer = new ElidedLabel(Qt::ElideMiddle, this);
    footer->setObjectName(QStringLiteral("serversFooter"));
    QFont small = footer->font();
    small.setPointSizeF(std::max(6.0, QFont().pointSizeF() - 2));
    footer->setFont(small);
    Theme::applyTextRole(*footer, QStringLiteral("secondary"));
    // However long the data folder's path, the footer takes the room left and never widens the window.
    footer->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    version = new StatusLabel(QStringLiteral("secondary"), this);
    version->setSizeStep(-2);
    version->setWordWrap(false);
    footerRow->addWidget(footerSymbol);
    footerRow->addWidget(footer, 1);
    footerRow->addSpacing(10);
    footerRow->addWidget(version);
    stack->addLayout(footerRow);
}

QWidget* ServersPage::buildOnboardingBar()
{
    QWidget* bar = tintedBar("onboardingBar", QStringLiteral("accent"), 0.08, this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(16, 10, 16, 10);
    row->setSpacing(10);
    row->addWidget(symbolLabel(QStringLiteral("flag.fill"), QStringLiteral("accent"), 16, bar));
    auto* text = new StatusLabel(QString(), bar);
    text->setSizeStep(-1);
    text->setText(QStringLiteral("还在初次设置中：按引导窗口一步步做完就能用。"));
    row->addWidget(text, 1);
    onboardingButton = new QPushButton(QStringLiteral("打开引导窗口"), bar);
    onboardingButton->setObjectName(QStringLiteral("openOnboardingButton"));
    connect(onboardingButton, &QPushButton::clicked, this, [this] {
        if (context.app.openOnboarding)
            context.app.openOnboarding();
    });
    // Without an onboarding window there is nothing to open.
    onboardingButton->setVisible(bool(context.app.openOnboarding));
    row->addWidget(onboardingButton);
    return bar;
}

QWidget* ServersPage::buildAccessibilityBar()
{
    QWidget* bar = tintedBar("accessibilityBar", QStringLiteral("yellow"), 0.18, this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(16, 10, 16, 10);
    row->setSpacing(10);
    row->addWidget(symbolLabel(QStringLiteral("hand.raised.fill"), QStringLiteral("orange"), 16, bar));
    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    column->addWidget(Parts::heading(QStringLiteral("还差一步：开启「XTest 模拟按键」"), bar));
    accessibilityText = new StatusLabel(QStringLiteral("secondary"), bar);
    accessibilityText->setObjectName(QStringLiteral("accessibilityText"));
    accessibilityText->setSizeStep(-2);
    column->addWidget(accessibilityText);
    row->addLayout(column, 1);
    // No settings pane grants typing on X11: only the way out into the paste mode without it.
    zeroPermissionButton = new QPushButton(QStringLiteral("不想授权？用零权限模式"), bar);
    zeroPermissionButton->setObjectName(QStringLiteral("zeroPermissionButton"));
    connect(zeroPermissionButton, &QPushButton::clicked, this, [this] {
        Settings s = context.app.settings();
        s.pasteMode = PasteMode::zeroPermission;
        context.app.setSettings(s);
    });
    row->addWidget(zeroPermissionButton);
    return bar;
}

QWidget* ServersPage::buildEmptyState()
{
    auto* page = new QWidget(body);
    page->setObjectName(QStringLiteral("serversEmpty"));
    auto* column = new QVBoxLayout(page);
    column->setSpacing(8);
    column->addStretch(1);
    auto* icon = new QLabel(page);
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(Symbols::tinted(QStringLiteral("server.rack"), 34, Theme::faded(QStringLiteral("secondary"), 0.6)));
    column->addWidget(icon);
    auto* title = new StatusLabel(QStringLiteral("secondary"), page);
    title->setSizeStep(3);
    title->setAlignment(Qt::AlignCenter);
    title->setText(QStringLiteral("还没有服务器"));
    column->addWidget(title);
    auto* hint = new StatusLabel(QStringLiteral("secondary"), page);
    hint->setSizeStep(-2);
    hint->setAlignment(Qt::AlignCenter);
    hint->setText(QStringLiteral("把你平时 ssh 的那台的地址粘到上面，点「连接」"));
    column->addWidget(hint);
    column->addStretch(1);
    return page;
}

ServersPageFacts ServersPage::facts() const
{
    AppState& app = context.app;
    ServersPageFacts f;
    f.servers = app.registry().servers();
    for (const Server& server : std::as_const(f.servers))
        f.statuses.insert(server.id, app.registry().status(server.id).kind);
    f.settings = app.settings();
    f.accessibilityTrusted = app.accessibilityTrusted();
    f.todayCount = app.shots().todayCount(Clock::instance().now());
    if (Paths::dataOverride())
        f.dataOverride = Paths::dataDirectory();
    f.version = AppInfo::current().version;
    return f;
}

ServerCard* ServersPage::card(const QUuid& id) const
{
    return cards->widgetAs<ServerCard>(id.toString(QUuid::WithoutBraces));
}

void ServersPage::refresh()
{
    const ServersPageModel model(facts());
    const auto bar = model.bar();
    onboardingBar->setVisible(bar == ServersPageModel::Bar::onboarding);
    accessibilityBar->setVisible(bar == ServersPageModel::Bar::accessibility);
    barDivider->setVisible(bar != ServersPageModel::Bar::none);
    accessibilityText->setText(model.accessibilityDetail());

    box->refresh();

    ServerRegistry& registry = context.app.registry();
    const QList<Server> listed = model.listed();
    QStringList keys;
    for (const Server& server : listed)
        keys << server.id.toString(QUuid::WithoutBraces);
    cards->setKeys(keys);
    for (const Server& server : listed)
        if (ServerCard* c = card(server.id))
            c->setContent(server, registry.status(server.id), context.app.serversPage().highlighted() == server.id);
    body->setCurrentWidget(listed.isEmpty() ? empty : static_cast<QWidget*>(scroll));

    const QString symbol = model.footerSymbol();
    if (symbol != footerSymbol->property("symbol").toString()) {
        footerSymbol->setProperty("symbol", symbol);
        const int side = footer->fontMetrics().height();
        footerSymbol->setPixmap(symbol.isEmpty() ? QPixmap() : Symbols::tinted(symbol, side, Theme::color(QStringLiteral("secondary"))));
    }
    footerSymbol->setVisible(!symbol.isEmpty());
    footer->setText(model.footer());
    footer->setToolTip(model.footer());
    version->setText(model.versionText());
}

void ServersPage::pressDefault()
{
    // The accessibility bar has no button to open a settings pane here, and its way out (another paste
    // mode) is not something a stray Return should choose.
    if (onboardingBar->isVisibleTo(this) && onboardingButton->isVisibleTo(this) && onboardingButton->isEnabled()) {
        onboardingButton->click();
        return;
    }
    box->connectTyped();
}
