#include "ui/panel/PasteHint.h"

#include "ui/kit/Theme.h"

#include <QPainter>

PasteHint::PasteHint(QWidget* parent) : QWidget(parent)
{
    QFont f = font();
    f.setPointSizeF(std::max(6.0, f.pointSizeF() - 0.5));
    setFont(f);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void PasteHint::setTexts(const QString& lead, const QString& choice, bool chosen)
{
    if (lead == leadText && choice == choiceText && chosen == isChosen)
        return;
    leadText = lead;
    choiceText = choice;
    isChosen = chosen;
    updateGeometry();
    update();
}

QFont PasteHint::choiceFont() const
{
    QFont f = font();
    f.setBold(isChosen);
    return f;
}

QSize PasteHint::sizeHint() const
{
    return QSize(fontMetrics().horizontalAdvance(leadText) + QFontMetrics(choiceFont()).horizontalAdvance(choiceText),
                 fontMetrics().height());
}

QSize PasteHint::minimumSizeHint() const { return QSize(0, fontMetrics().height()); }

void PasteHint::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int leadWidth = fontMetrics().horizontalAdvance(leadText);
    painter.setPen(Theme::color(QStringLiteral("secondary")));
    if (leadWidth > width()) {
        painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, fontMetrics().elidedText(leadText, Qt::ElideRight, width()));
        return;
    }
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, leadText);
    painter.setFont(choiceFont());
    painter.setPen(Theme::color(isChosen ? QStringLiteral("accent") : QStringLiteral("secondary")));
    const QRect rest = rect().adjusted(leadWidth, 0, 0, 0);
    painter.drawText(rest, Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetrics(choiceFont()).elidedText(choiceText, Qt::ElideRight, rest.width()));
}
