#include "ui/panel/ShotCard.h"

#include "app/AppState.h"
#include "capture/ShotStore.h"
#include "delivery/Uploader.h"
#include "ui/kit/Badge.h"
#include "ui/kit/ElidedLabel.h"
#include "ui/kit/StatusLabel.h"
#include "ui/kit/Theme.h"
#include "ui/panel/ShotCardModel.h"
#include "ui/panel/ThumbnailView.h"

#include <QEvent>
#include <QFontDatabase>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
constexpr double hoveredOpacity = 1.0;
constexpr double restingOpacity = 0.65;

QFont smaller(QFont font, double step)
{
    font.setPointSizeF(std::max(6.0, font.pointSizeF() + step));
    return font;
}

StatusLabel* lineLabel(const char* name, QWidget* parent)
{
    auto* label = new StatusLabel(QStringLiteral("secondary"), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setWordWrap(false);
    label->setFont(smaller(label->font(), -0.5));
    return label;
}
} // namespace

ShotCard::ShotCard(AppState& app, ThumbnailCache& thumbnails, std::function<void()> closePanel, QWidget* parent)
    : QFrame(parent), app(app), closePanel(std::move(closePanel))
{
    setObjectName(QStringLiteral("shotCard"));
    setAttribute(Qt::WA_Hover);
    auto* stack = new QVBoxLayout(this);
    // Inside the 2-point outline of the chosen card.
    stack->setContentsMargins(2, 2, 2, 2);
    stack->setSpacing(0);

    picture = new ThumbnailView(thumbnails, radius - 2, this);
    picture->setObjectName(QStringLiteral("thumbnail"));
    picture->setFixedHeight(thumbnailHeight);
    connect(picture, &ThumbnailView::clicked, this, &ShotCard::toggleChoice);
    badge = new Badge(QString(), QStringLiteral("accent"), picture);
    badge->setObjectName(QStringLiteral("badge"));
    badge->move(8, 8);
    badge->hide();
    stack->addWidget(picture);

    auto* info = new QWidget(this);
    auto* rows = new QVBoxLayout(info);
    rows->setContentsMargins(11, 9, 11, 9);
    rows->setSpacing(5);
    stack->addWidget(info);

    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(std::max(6.0, font().pointSizeF() - 0.5));
    mono.setWeight(QFont::DemiBold);
    titleRow = new QWidget(info);
    auto* title = new QHBoxLayout(titleRow);
    title->setContentsMargins(0, 0, 0, 0);
    title->setSpacing(0);
    number = new QLabel(titleRow);
    number->setObjectName(QStringLiteral("numberLabel"));
    number->setTextFormat(Qt::PlainText);
    QFont bold = mono;
    bold.setBold(true);
    number->setFont(bold);
    Theme::applyTextRole(*number, QStringLiteral("accent"));
    pathLabel = new ElidedLabel(Qt::ElideMiddle, titleRow);
    pathLabel->setObjectName(QStringLiteral("pathLabel"));
    pathLabel->setFont(mono);
    title->addWidget(number);
    title->addWidget(pathLabel, 1);
    rows->addWidget(titleRow);

    statusLine = new QWidget(info);
    statusLine->setObjectName(QStringLiteral("statusLine"));
    // Many destinations overflow to the right instead of widening the card.
    statusLine->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusRow = new QHBoxLayout(statusLine);
    statusRow->setContentsMargins(0, 0, 0, 0);
    statusRow->setSpacing(8);
    time = lineLabel("timeLabel", statusLine);
    size = lineLabel("sizeLabel", statusLine);
    pasted = lineLabel("pastedLabel", statusLine);
    updated = lineLabel("updatedLabel", statusLine);
    more = lineLabel("moreLabel", statusLine);
    for (QWidget* w : {static_cast<QWidget*>(time), static_cast<QWidget*>(size), static_cast<QWidget*>(pasted),
                       static_cast<QWidget*>(updated), static_cast<QWidget*>(more)})
        statusRow->addWidget(w);
    statusRow->addStretch(1);
    statusLine->setMinimumHeight(time->sizeHint().height());
    statusLine->installEventFilter(this);
    rows->addWidget(statusLine);

    auto* actions = new QWidget(info);
    actions->setObjectName(QStringLiteral("actions"));
    auto* actionRow = new QHBoxLayout(actions);
    actionRow->setContentsMargins(0, 0, 0, 0);
    actionRow->setSpacing(6);
    selectButton = addAction("selectButton", QString(), actionRow);
    connect(selectButton, &QToolButton::clicked, this, &ShotCard::toggleChoice);
    connect(addAction("viewButton", QStringLiteral("👁 查看"), actionRow), &QToolButton::clicked, this, [this] {
        // The panel stays while the notice says why nothing opened.
        if (this->app.openPath(current.localPath) && this->closePanel)
            this->closePanel();
    });
    connect(addAction("copyButton", QStringLiteral("📋 复制路径"), actionRow), &QToolButton::clicked, this,
            [this] { this->app.copyPath(path, current.name); });
    QToolButton* fill = addAction("fillButton", QStringLiteral("🔁 补传"), actionRow);
    fill->setToolTip(QStringLiteral("把这张传到还没传到的服务器"));
    connect(fill, &QToolButton::clicked, this, [this] { this->app.uploader().fillMissing(current.name); });
    QToolButton* remove = addAction("deleteButton", QStringLiteral("🗑 删除"), actionRow);
    Theme::applyTextRole(*remove, QStringLiteral("red"));
    connect(remove, &QToolButton::clicked, this, [this] { this->app.deleteShot(current.name); });
    actionRow->addStretch(1);
    actionsOpacity = new QGraphicsOpacityEffect(actions);
    actionsOpacity->setOpacity(restingOpacity);
    actions->setGraphicsEffect(actionsOpacity);
    rows->addWidget(actions);
}

QToolButton* ShotCard::addAction(const char* name, const QString& text, QHBoxLayout* row)
{
    auto* button = new QToolButton(this);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(text);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setFont(smaller(button->font(), -0.5));
    button->setFocusPolicy(Qt::TabFocus);
    row->addWidget(button);
    return button;
}

void ShotCard::setContent(const Shot& shot, const QList<Server>& servers, const std::optional<QUuid>& defaultServerID,
                    bool isChosen, bool latest)
{
    const ShotCardModel model(shot, servers, defaultServerID, isChosen, latest);
    setProperty("shotName", shot.name);
    picture->setShot(shot);
    current = shot;
    path = model.displayPath();
    if (selected != isChosen) {
        selected = isChosen;
        update();
    }

    const auto look = model.badge();
    badge->setVisible(look.has_value());
    if (look) {
        badge->setText(look->text);
        badge->setColorRole(look->role);
        badge->adjustSize();
    }
    picture->setToolTip(model.thumbnailTooltip());
    number->setText(model.numberText());
    pathLabel->setText(path);
    titleRow->setToolTip(path);
    time->setText(model.timeText());
    size->setText(model.sizeText());

    const QList<UploadMark> wanted = model.marks();
    setMarkCount(int(wanted.size()));
    for (int i = 0; i < wanted.size(); ++i) {
        marks[i]->setText(wanted[i].text);
        if (marks[i]->colorRole() != wanted[i].role)
            marks[i]->setColorRole(wanted[i].role);
        marks[i]->setToolTip(Qt::convertFromPlainText(wanted[i].tooltip)); // reasons come from servers: never markup
    }
    showsPasted = model.pastedText().has_value();
    pasted->setText(model.pastedText().value_or(QString()));
    showsUpdated = model.updatedText().has_value();
    updated->setText(model.updatedText().value_or(QString()));
    more->setToolTip(Qt::convertFromPlainText(model.statusSummary()));
    fitStatusLine();
    selectButton->setText(model.selectLabel());
}

void ShotCard::setMarkCount(int count)
{
    while (marks.size() > count)
        delete marks.takeLast();
    while (marks.size() < count) {
        StatusLabel* mark = lineLabel("uploadMark", pasted->parentWidget());
        statusRow->insertWidget(2 + int(marks.size()), mark);
        marks << mark;
    }
}

void ShotCard::fitStatusLine()
{
    QList<QWidget*> items{time, size};
    for (StatusLabel* mark : std::as_const(marks))
        items << mark;
    if (showsPasted)
        items << pasted;
    if (showsUpdated)
        items << updated;
    const int room = statusLine->width();
    const int gap = statusRow->spacing();
    int whole = -gap;
    for (QWidget* item : std::as_const(items))
        whole += item->sizeHint().width() + gap;

    QList<QWidget*> kept = items;
    if (whole > room) {
        QList<QWidget*> order{time, size};
        for (StatusLabel* mark : std::as_const(marks))
            if (mark->colorRole() == QLatin1String("red"))
                order << mark;
        if (showsPasted)
            order << pasted;
        if (showsUpdated)
            order << updated;
        for (StatusLabel* mark : std::as_const(marks))
            if (mark->colorRole() != QLatin1String("red"))
                order << mark;
        // Room for the widest "+N" it can come to.
        int used = more->fontMetrics().horizontalAdvance(QStringLiteral("+") + QString::number(items.size()));
        kept.clear();
        for (QWidget* item : std::as_const(order)) {
            const int needed = item->sizeHint().width() + gap;
            if (used + needed <= room) {
                used += needed;
                kept << item;
            }
        }
    }
    int left = 0;
    bool failureLeft = false;
    for (QWidget* item : std::as_const(items)) {
        const bool shown = kept.contains(item);
        item->setVisible(shown);
        if (!shown) {
            ++left;
            failureLeft = failureLeft || item->property("colorRole").toString() == QLatin1String("red");
        }
    }
    if (!showsPasted)
        pasted->setVisible(false);
    if (!showsUpdated)
        updated->setVisible(false);
    more->setText(QStringLiteral("+") + QString::number(left));
    more->setColorRole(failureLeft ? QStringLiteral("red") : QStringLiteral("secondary"));
    more->setVisible(left > 0);
}

bool ShotCard::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == statusLine && event->type() == QEvent::Resize)
        fitStatusLine();
    return QFrame::eventFilter(watched, event);
}

void ShotCard::toggleChoice()
{
    app.shots().setSelected(selected ? std::nullopt : std::optional<QString>(current.name));
}

void ShotCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
    QPainterPath shape;
    shape.addRoundedRect(box, radius, radius);
    painter.fillPath(shape, palette().color(QPalette::Base));
    if (selected) {
        painter.setPen(QPen(Theme::color(QStringLiteral("accent")), 2));
        painter.drawPath(shape);
    }
}

void ShotCard::enterEvent(QEnterEvent* event)
{
    QFrame::enterEvent(event);
    actionsOpacity->setOpacity(hoveredOpacity);
}

void ShotCard::leaveEvent(QEvent* event)
{
    QFrame::leaveEvent(event);
    actionsOpacity->setOpacity(restingOpacity);
}
