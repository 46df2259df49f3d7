#include "ui/kit/GradientBackground.h"

#include <QLinearGradient>
#include <QPainter>

GradientBackground::GradientBackground(const QColor& from, Direction direction, QWidget* parent)
    : QWidget(parent), from(from), direction(direction)
{
    setAutoFillBackground(true);
}

void GradientBackground::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPointF end = direction == Direction::vertical ? QPointF(0, height()) : QPointF(width(), height());
    QLinearGradient gradient(QPointF(0, 0), end);
    QColor clear = from;
    clear.setAlpha(0);
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, clear);
    painter.fillRect(rect(), gradient);
}
