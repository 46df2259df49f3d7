#include "ui/panel/ShotsPage.h"

#include "app/AppState.h"
#include "capture/ShotStore.h"
#include "servers/ServerRegistry.h"
#include "ui/kit/KeyedCardGrid.h"
#include "ui/kit/Parts.h"
#include "ui/kit/StatusLabel.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Theme.h"
#include "ui/panel/PanelModel.h"
#include "ui/panel/ShotCard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

ShotsPage::ShotsPage(PanelContext context, QWidget* parent) : QStackedWidget(parent), context(context)
{
    setObjectName(QStringLiteral("shotsPage"));
    cards = new KeyedCardGrid([this](const QString& name) {
        auto* card = new ShotCard(this->context.app, this->context.thumbnails, this->context.closePanel);
        fill(card, name);
        return card;
    });
    cards->setObjectName(QStringLiteral("shotGrid"));
    cards->setColumns(2);
    cards->setSpacing(12, 12);
    cards->setMargin(14);
    scroll = Parts::verticalScroll(this);
    scroll->setObjectName(QStringLiteral("shotsScroll"));
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    scroll->setWidget(cards);
    addWidget(scroll);
    emptyPage = buildEmptyPage();
    addWidget(emptyPage);
}

QWidget* ShotsPage::buildEmptyPage()
{
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("emptyState"));
    auto* stack = new QVBoxLayout(page);
    stack->setSpacing(8);
    stack->addStretch(1);
    auto* title = new StatusLabel(QStringLiteral("secondary"), page);
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() + 4);
    title->setFont(big);
    title->setWordWrap(false);
    title->setText(QStringLiteral("还没有截图"));
    auto* hint = new StatusLabel(QStringLiteral("secondary"), page);
    hint->setSizeStep(-1);
    hint->setWordWrap(false);
    hint->setText(QStringLiteral("截图 → Ctrl+C 后会自动出现在这里，右上角也会闪一下"));

    inboundRow = new QWidget(page);
    inboundRow->setObjectName(QStringLiteral("inboundRow"));
    auto* inbound = new QHBoxLayout(inboundRow);
    inbound->setContentsMargins(0, 0, 0, 0);
    inbound->setSpacing(4);
    inboundText = new StatusLabel(QStringLiteral("accent"), inboundRow);
    inboundText->setSizeStep(-1);
    inboundText->setWordWrap(false);
    auto* people = new QLabel(inboundRow);
    const int side = inboundText->fontMetrics().height();
    people->setPixmap(Symbols::tinted(QStringLiteral("person.2.fill"), side, Theme::color(QStringLiteral("accent"))));
    inbound->addWidget(people);
    inbound->addWidget(inboundText);

    connectedHint = new StatusLabel(QStringLiteral("secondary"), page);
    connectedHint->setObjectName(QStringLiteral("connectedHint"));
    connectedHint->setSizeStep(-1);
    connectedHint->setWordWrap(false);
    toServers = new QPushButton(QStringLiteral("先去「服务器」页连一台"), page);
    toServers->setObjectName(QStringLiteral("toServersButton"));
    connect(toServers, &QPushButton::clicked, this, [this] { this->context.app.setPanelTab(PanelTab::servers); });

    for (QWidget* w : {static_cast<QWidget*>(title), static_cast<QWidget*>(hint), inboundRow,
                       static_cast<QWidget*>(connectedHint), static_cast<QWidget*>(toServers)})
        stack->addWidget(w, 0, Qt::AlignHCenter);
    stack->addStretch(1);
    return page;
}

ShotCard* ShotsPage::card(const QString& shotName) const { return cards->widgetAs<ShotCard>(shotName); }

void ShotsPage::fill(ShotCard* card, const QString& name) const
{
    const QList<Shot>& shots = context.app.shots().shots();
    qsizetype at = position.value(name, -1);
    // A card built before the refresh of a change to the list finds its shot by name.
    if (at < 0 || at >= shots.size() || shots[at].name != name) {
        const auto found = std::find_if(shots.cbegin(), shots.cend(), [&](const Shot& s) { return s.name == name; });
        if (found == shots.cend())
            return;
        at = found - shots.cbegin();
    }
    const Shot& shot = shots[at];
    card->setContent(shot, servers, defaultServerID, chosen == shot.name, at == shots.size() - 1);
}

// Only when shots came or went; new shots at the end (the usual change) are added to what is known.
void ShotsPage::list(const QList<Shot>& shots)
{
    const quint64 changes = context.app.shots().listChanges();
    if (changes == listedAt && position.size() == shots.size())
        return;
    listedAt = changes;
    const qsizetype known = keys.size();
    const bool appended = known > 0 && shots.size() > known && shots[known - 1].name == keys.first() &&
                          position.value(shots[0].name, -1) == 0;
    if (!appended) {
        keys.clear();
        position.clear();
    }
    keys.reserve(shots.size());
    position.reserve(shots.size());
    for (qsizetype i = appended ? known : 0; i < shots.size(); ++i) {
        keys.prepend(shots[i].name);
        position.insert(shots[i].name, int(i));
    }
}

void ShotsPage::refresh(const PanelModel& model)
{
    ShotStore& store = context.app.shots();
    const QList<Shot>& shots = store.shots();
    servers = context.app.registry().servers();
    defaultServerID = context.app.settings().defaultServerID;
    chosen = store.selected();
    list(shots);

    if (shots.isEmpty()) {
        cards->setKeys({});
        const EmptyPageLook look = model.emptyPage();
        inboundRow->setVisible(look.inbound.has_value());
        inboundText->setText(look.inbound.value_or(QString()));
        connectedHint->setVisible(look.connectedHint.has_value());
        connectedHint->setText(look.connectedHint.value_or(QString()));
        toServers->setVisible(!look.connectedHint);
        setCurrentWidget(emptyPage);
        return;
    }
    setCurrentWidget(scroll);
    for (const QString& name : cards->builtKeys())
        if (auto* built = card(name))
            fill(built, name);
    cards->setKeys(keys);
}
