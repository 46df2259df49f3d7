#pragma once

#include "state/Shot.h"

#include <QPixmap>
#include <QWidget>

class ThumbnailCache;

// The picture of one shot on a near-black backdrop, scaled to fit with its proportions kept; the top
// corners are rounded to match its card. The picture comes from the thumbnail cache; a result that arrives
// after the view moved on to another shot (or picture) is dropped. A click is `clicked`.
class ThumbnailView : public QWidget {
    Q_OBJECT
public:
    ThumbnailView(ThumbnailCache& cache, int cornerRadius, QWidget* parent = nullptr);

    // Loads the shot's picture unless it shows that picture already.
    void setShot(const Shot& shot);
    const QPixmap& picture() const { return pixmap; }

Q_SIGNALS:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    ThumbnailCache& cache;
    int radius;
    QString key;
    QPixmap pixmap;
};
