#include "ui/onboarding/ChoiceCard.h"

#include "ui/kit/StatusLabel.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

ChoiceCard::ChoiceCard(const QString& title, const QString& detail, QWidget* parent) : QAbstractButton(parent)
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(4);
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    mark = new QLabel(this);
    heading = new QLabel(title, this);
    heading->setTextFormat(Qt::PlainText);
    QFont semibold = heading->font();
    semibold.setWeight(QFont::DemiBold);
    heading->setFont(semibold);
    row->addWidget(mark);
    row->addWidget(heading, 1);
    column->addLayout(row);
    auto* detailLabel = new StatusLabel(QStringLiteral("secondary"), this);
    detailLabel->setSizeStep(-2);
    detailLabel->setText(detail);
    detailLine = detailLabel;
    column->addWidget(detailLine);
    column->addStretch(1);
    for (QLabel* label : {mark, heading, detailLine})
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
    setSelected(false);
}

void ChoiceCard::setSelected(bool on)
{
    isSelected = on;
    const int side = heading->fontMetrics().height();
    mark->setPixmap(on ? Symbols::tinted(QStringLiteral("largecircle.fill.circle"), side, Theme::color(QStringLiteral("accent")))
                       : Symbols::tinted(QStringLiteral("circle"), side, Theme::color(QStringLiteral("secondary"))));
    update();
}

QSize ChoiceCard::sizeHint() const { return layout()->sizeHint(); }

void ChoiceCard::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setBrush(isSelected ? Theme::faded(QStringLiteral("accent"), 0.12) : palette().color(QPalette::Base));
    p.setPen(QPen(isSelected ? Theme::color(QStringLiteral("accent")) : palette().color(QPalette::Mid), 1));
    p.drawRoundedRect(area, 8, 8);
}
