#include "ui/panel/ThumbnailView.h"

#include "ui/panel/ThumbnailCache.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

ThumbnailView::ThumbnailView(ThumbnailCache& cache, int cornerRadius, QWidget* parent)
    : QWidget(parent), cache(cache), radius(cornerRadius)
{
    setCursor(Qt::PointingHandCursor);
}

void ThumbnailView::setShot(const Shot& shot)
{
    const QString wanted = ThumbnailCache::key(shot);
    if (wanted == key)
        return;
    key = wanted;
    pixmap = cache.cached(key).value_or(QPixmap());
    update();
    if (!pixmap.isNull())
        return;
    cache.request(shot, this, [this, wanted](const QPixmap& result) {
        if (wanted != key)
            return;
        pixmap = result;
        update();
    });
}

void ThumbnailView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // Rounded at the top only: the card's info block continues below.
    const QRectF box = rect();
    QPainterPath shape;
    shape.addRoundedRect(box, radius, radius);
    shape.addRect(box.adjusted(0, box.height() / 2, 0, 0));
    shape.setFillRule(Qt::WindingFill);
    painter.setClipPath(shape.simplified());
    painter.fillRect(box, QColor(0, 0, 0, int(0.92 * 255)));
    if (pixmap.isNull())
        return;
    const QSizeF fitted = QSizeF(pixmap.size() / pixmap.devicePixelRatio()).scaled(box.size(), Qt::KeepAspectRatio);
    const QRectF target(QPointF(box.center().x() - fitted.width() / 2, box.center().y() - fitted.height() / 2), fitted);
    painter.drawPixmap(target, pixmap, QRectF(pixmap.rect()));
}

void ThumbnailView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
    QWidget::mouseReleaseEvent(event);
}
