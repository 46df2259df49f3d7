#include "ui/kit/BusyButton.h"

#include "ui/kit/OnScreen.h"
#include "ui/kit/Theme.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTimer>

BusyButton::BusyButton(const QString& text, QWidget* parent) : QPushButton(text, parent), ticker(new QTimer(this))
{
    ticker->setInterval(80);
    connect(ticker, &QTimer::timeout, this, [this] {
        angle = (angle + 30) % 360;
        update();
    });
    onScreen = new OnScreen(*this, [this](bool) { followTicker(); });
}

void BusyButton::followTicker()
{
    if (spinning && onScreen->now())
        ticker->start();
    else
        ticker->stop();
}

void BusyButton::setBusy(bool on)
{
    if (spinning == on)
        return;
    spinning = on;
    followTicker();
    update();
}

void BusyButton::makeProminent(int width)
{
    labelWidth = width;
    QFont f = font();
    f.setBold(true);
    setFont(f);
    QPalette p = palette();
    p.setColor(QPalette::Button, Theme::color(QStringLiteral("accent")));
    p.setColor(QPalette::ButtonText, Qt::white);
    setPalette(p);
    setProperty("prominent", true);
    updateGeometry();
}

QSize BusyButton::sizeHint() const
{
    QSize hint = QPushButton::sizeHint();
    if (labelWidth > 0)
        hint = QSize(std::max(hint.width(), labelWidth + 24), std::max(hint.height(), fontMetrics().height() + 18));
    return hint;
}

int BusyButton::spinnerSide() const { return fontMetrics().height() - 2; }

void BusyButton::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    if (property("prominent").toBool() && isEnabled()) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        QColor fill = Theme::color(QStringLiteral("accent"));
        if (isDown())
            fill = fill.darker(115);
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 7, 7);
        if (hasFocus()) {
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(fill.lighter(150), 2));
            painter.drawRoundedRect(QRectF(rect()).adjusted(2, 2, -2, -2), 6, 6);
        }
        option.palette.setColor(QPalette::ButtonText, Qt::white);
    } else {
        option.text.clear();
        painter.drawControl(QStyle::CE_PushButton, option);
    }

    const QString label = text();
    const int side = spinnerSide();
    const int gap = spinning ? side + 6 : 0;
    const int textWidth = fontMetrics().horizontalAdvance(label);
    const int left = (width() - textWidth - gap) / 2;
    if (spinning) {
        painter.setRenderHint(QPainter::Antialiasing);
        QColor ink = option.palette.color(QPalette::ButtonText);
        painter.setPen(QPen(ink, 2, Qt::SolidLine, Qt::RoundCap));
        const QRectF circle(left, (height() - side) / 2.0, side, side);
        painter.drawArc(circle.adjusted(1, 1, -1, -1), -angle * 16, 270 * 16);
    }
    painter.setPen(isEnabled() ? option.palette.color(QPalette::ButtonText)
                               : palette().color(QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(QRect(left + gap, 0, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft, label);
}
