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

int PasteHint::choiceWidth() const { return QFontMetrics(choiceFont()).horizontalAdvance(choiceText); }

QSize PasteHint::sizeHint() const
{
    return QSize(fontMetrics().horizontalAdvance(leadText) + choiceWidth(), fontMetrics().height());
}

QSize PasteHint::minimumSizeHint() const { return QSize(choiceWidth(), fontMetrics().height()); }

void PasteHint::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int choiceRoom = std::min(choiceWidth(), width());
    QString lead = fontMetrics().elidedText(leadText, Qt::ElideRight, width() - choiceRoom);
    if (fontMetrics().horizontalAdvance(lead) > width() - choiceRoom)
        lead.clear(); // not even "…" fits beside the choice
    const int leadWidth = fontMetrics().horizontalAdvance(lead);
    painter.setPen(Theme::color(QStringLiteral("secondary")));
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, lead);
    painter.setFont(choiceFont());
    painter.setPen(Theme::color(isChosen ? QStringLiteral("accent") : QStringLiteral("secondary")));
    const QRect rest = rect().adjusted(leadWidth, 0, 0, 0);
    painter.drawText(rest, Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetrics(choiceFont()).elidedText(choiceText, Qt::ElideRight, rest.width()));
}
