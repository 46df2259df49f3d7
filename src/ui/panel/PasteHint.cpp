#include "ui/panel/PasteHint.h"

#include "ui/kit/Theme.h"

#include <QPainter>
#include <cmath>

PasteHint::PasteHint(QWidget* parent) : QWidget(parent)
{
    QFont f = font();
    f.setPointSizeF(std::max(6.0, f.pointSizeF() - 0.5));
    setFont(f);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    forms = {Form()};
}

void PasteHint::setTexts(const QString& lead, const QString& choice, bool chosen,
                         const QList<std::pair<QString, QString>>& shorter)
{
    const QList<Form> next = QList<Form>{{lead, choice}} + shorter;
    if (next == forms && chosen == isChosen)
        return;
    leadText = lead;
    choiceText = choice;
    isChosen = chosen;
    forms = next;
    pickForm();
    updateGeometry();
    update();
}

QString PasteHint::shownText() const { return forms[shown].first + drawnChoice(); }

qreal PasteHint::leadWidth() const { return QFontMetricsF(font()).horizontalAdvance(forms[shown].first); }

QString PasteHint::drawnChoice() const
{
    // Only narrower than its least width: the layout gives it at least that.
    return QFontMetricsF(choiceFont()).elidedText(forms[shown].second, Qt::ElideRight, width() - leadWidth());
}

QFont PasteHint::choiceFont() const
{
    QFont f = font();
    f.setBold(isChosen);
    return f;
}

int PasteHint::widthOf(const Form& form) const
{
    // As drawn: the advances unrounded, and the ink of the bold part, which can reach past its advance.
    const QFontMetricsF choice(choiceFont());
    const qreal choiceWidth = std::max(choice.horizontalAdvance(form.second), choice.boundingRect(form.second).right());
    return int(std::ceil(QFontMetricsF(font()).horizontalAdvance(form.first) + choiceWidth));
}

void PasteHint::pickForm()
{
    shown = int(forms.size()) - 1;
    for (int i = 0; i < forms.size(); ++i)
        if (widthOf(forms[i]) <= width()) {
            shown = i;
            break;
        }
    setToolTip(shown == 0 ? QString() : leadText + choiceText);
}

QSize PasteHint::sizeHint() const { return QSize(widthOf(forms.first()), fontMetrics().height()); }

QSize PasteHint::minimumSizeHint() const { return QSize(widthOf(forms.last()), fontMetrics().height()); }

void PasteHint::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    pickForm();
}

void PasteHint::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(Theme::color(QStringLiteral("secondary")));
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, forms[shown].first);
    painter.setFont(choiceFont());
    painter.setPen(Theme::color(isChosen ? QStringLiteral("accent") : QStringLiteral("secondary")));
    painter.drawText(QRectF(rect()).adjusted(leadWidth(), 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, drawnChoice());
}
