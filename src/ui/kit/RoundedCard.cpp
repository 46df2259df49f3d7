#include "ui/kit/RoundedCard.h"

#include <QGraphicsDropShadowEffect>
#include <QPainter>
#include <QPainterPath>

RoundedCard::RoundedCard(int radius, QWidget* parent) : QFrame(parent), radius(radius)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

void RoundedCard::setShadow(const QColor& color, int blur, QPoint offset)
{
    auto* effect = new QGraphicsDropShadowEffect(this);
    effect->setColor(color);
    effect->setBlurRadius(blur);
    effect->setOffset(offset);
    setGraphicsEffect(effect);
}

void RoundedCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = palette().color(QPalette::Window).lighter(104);
    fill.setAlphaF(0.94f);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    painter.fillPath(path, fill);
    QColor edge = palette().color(QPalette::Mid);
    edge.setAlphaF(0.35f);
    painter.setPen(QPen(edge, 1));
    painter.drawPath(path);
}
