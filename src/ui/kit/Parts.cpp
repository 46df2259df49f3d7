#include "ui/kit/Parts.h"

#include "ui/kit/StatusLabel.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Theme.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace Parts {

QFrame* divider(QWidget* parent, QFrame::Shadow shadow)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(shadow);
    if (shadow == QFrame::Plain)
        line->setForegroundRole(QPalette::Mid);
    return line;
}

QLabel* heading(const QString& text, QWidget* parent, qreal larger)
{
    auto* label = new QLabel(text, parent);
    QFont bold = label->font();
    if (larger != 0)
        bold.setPointSizeF(bold.pointSizeF() + larger);
    bold.setBold(true);
    label->setFont(bold);
    return label;
}

QPushButton* button(const char* name, const QString& label, QWidget* parent)
{
    auto* b = new QPushButton(label, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
}

StatusLabel* text(const QString& role, int sizeStep, QWidget* parent, const QString& content)
{
    auto* label = new StatusLabel(role, parent);
    label->setSizeStep(sizeStep);
    label->setText(content);
    return label;
}

StatusLabel* caption(const QString& content, QWidget* parent)
{
    return text(QStringLiteral("secondary"), -2, parent, content);
}

StatusLabel* note(const char* name, QWidget* parent, int sizeStep)
{
    auto* label = new StatusLabel(QStringLiteral("secondary"), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setSizeStep(sizeStep);
    return label;
}

QFont monospace(double points)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(points);
    return font;
}

QToolButton* menuButton(const char* name, QMenu* menu, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(Symbols::icon(QStringLiteral("ellipsis.circle")));
    button->setAutoRaise(true);
    button->setPopupMode(QToolButton::InstantPopup);
    button->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    button->setFixedWidth(22);
    button->setMenu(menu);
    return button;
}

QVBoxLayout* pinnedTop(QWidget* widget, int top)
{
    auto* column = new QVBoxLayout;
    column->setContentsMargins(0, top, 0, 0);
    column->addWidget(widget);
    column->addStretch(1);
    return column;
}

void paintOutlinedCard(QWidget& card, const QString& role, qreal opacity, qreal width, qreal radius)
{
    QPainter painter(&card);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor edge = role == QLatin1String("separator") ? card.palette().color(QPalette::Mid)
                                                          : Theme::faded(role, opacity);
    QPainterPath outline;
    const qreal inset = width / 2;
    outline.addRoundedRect(QRectF(card.rect()).adjusted(inset, inset, -inset, -inset), radius, radius);
    painter.fillPath(outline, card.palette().color(QPalette::Base));
    painter.setPen(QPen(edge, width));
    painter.drawPath(outline);
}

QHBoxLayout* centred(QWidget* widget)
{
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addStretch(1);
    row->addWidget(widget);
    row->addStretch(1);
    return row;
}

QString wrapOnlyAtBlanks(const QString& text)
{
    // A word joiner between two characters forbids a break there and is not drawn.
    QString glued;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (i > 0 && !text[i - 1].isSpace() && !text[i].isSpace() && !text[i].isLowSurrogate())
            glued += QChar(0x2060);
        glued += text[i];
    }
    return glued;
}

QScrollArea* verticalScroll(QWidget* parent)
{
    auto* scroll = new QScrollArea(parent);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return scroll;
}

QVBoxLayout* fill(QWidget& outer, QWidget* content, int margin)
{
    auto* layout = new QVBoxLayout(&outer);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->addWidget(content);
    return layout;
}

QVBoxLayout* scrollingColumn(QWidget& page, int margin, int spacing)
{
    QScrollArea* scroll = verticalScroll(&page);
    auto* content = new QWidget(scroll);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(margin, margin, margin, margin);
    column->setSpacing(spacing);
    scroll->setWidget(content);
    fill(page, scroll);
    return column;
}

void settle(QWidget& widget)
{
    QList<QWidget*> order = widget.findChildren<QWidget*>();
    std::reverse(order.begin(), order.end()); // each widget after those it holds
    for (QWidget* level = &widget; level; level = level->isWindow() ? nullptr : level->parentWidget())
        order << level;
    for (QWidget* each : std::as_const(order)) {
        QEvent request(QEvent::LayoutRequest);
        QCoreApplication::sendEvent(each, &request);
    }
}

} // namespace Parts
