#include "ui/kit/FilledPanel.h"

#include <QPainter>
#include <QPainterPath>

FilledPanel::FilledPanel(int radius, QWidget* parent) : QWidget(parent), radius(radius) {}

void FilledPanel::setFill(const QColor& color)
{
    fill = color;
    update();
}

void FilledPanel::setEdge(const QColor& color)
{
    edge = color;
    update();
}

void FilledPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    painter.fillPath(outline, fill.isValid() ? fill : palette().color(QPalette::Base));
    if (edge.alpha() == 0 && edge.isValid())
        return;
    painter.setPen(QPen(edge.isValid() ? edge : palette().color(QPalette::Mid), 1));
    painter.drawPath(outline);
}
