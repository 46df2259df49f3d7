#include "ui/feedback/AttachmentArea.h"

#include "account/FeedbackModel.h"
#include "ui/kit/StatusLabel.h"
#include "ui/kit/Theme.h"

#include <QAbstractButton>
#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {
constexpr QSize thumbSize(64, 48);
constexpr int badge = 15;
constexpr int badgeOffset = 5;

QPainterPath rounded(const QRectF& rect, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

// The small round "x" over a thumbnail's corner: white on translucent black.
class RemoveBadge : public QAbstractButton {
public:
    explicit RemoveBadge(QWidget* parent) : QAbstractButton(parent)
    {
        setObjectName(QStringLiteral("removeImageButton"));
        setToolTip(QStringLiteral("去掉这张"));
        setFixedSize(badge, badge);
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, isDown() ? 200 : 153));
        p.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
        p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
        const qreal a = badge * 0.32;
        const qreal b = badge - a;
        p.drawLine(QPointF(a, a), QPointF(b, b));
        p.drawLine(QPointF(a, b), QPointF(b, a));
    }
};

// One attached image, cropped to fill its rounded frame, with the remove badge over the top-right corner.
class AttachmentCell : public QWidget {
public:
    AttachmentCell(const QImage& image, QWidget* parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("attachmentCell"));
        setFixedSize(thumbSize.width() + badgeOffset, thumbSize.height() + badgeOffset);
        const qreal dpr = devicePixelRatioF();
        picture = QPixmap::fromImage(image.scaled(thumbSize * dpr, Qt::KeepAspectRatioByExpanding,
                                                  Qt::SmoothTransformation));
        picture.setDevicePixelRatio(dpr);
        remove = new RemoveBadge(this);
        remove->move(width() - badge, 0);
    }

    QAbstractButton* remove;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        const QRectF frame(QPointF(0, badgeOffset), QSizeF(thumbSize));
        const QPainterPath shape = rounded(frame, 6);
        p.save();
        p.setClipPath(shape);
        const QSizeF shown = QSizeF(picture.size()) / picture.devicePixelRatio();
        const QPointF origin = frame.center() - QPointF(shown.width() / 2, shown.height() / 2);
        p.drawPixmap(origin, picture);
        p.restore();
        p.setPen(QPen(Theme::faded(QString(), 0.12), 1));
        p.setBrush(Qt::NoBrush);
        p.drawPath(rounded(frame.adjusted(0.5, 0.5, -0.5, -0.5), 5.5));
    }

private:
    QPixmap picture;
};

// A small outlined picture (frame, hill, sun) with a plus badge at its lower right.
void drawPhotoPlus(QPainter& p, const QRectF& r)
{
    const QColor ink = Theme::color(QString());
    p.save();
    p.setPen(QPen(ink, 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    const QRectF photo(r.left() + 0.5, r.top() + 2.5, r.width() * 0.78, r.height() * 0.62);
    p.drawRoundedRect(photo, 2, 2);
    p.drawPolyline(QPolygonF({QPointF(photo.left() + 1.5, photo.bottom() - 1.5),
                              QPointF(photo.left() + photo.width() * 0.38, photo.top() + photo.height() * 0.45),
                              QPointF(photo.left() + photo.width() * 0.6, photo.bottom() - 3),
                              QPointF(photo.left() + photo.width() * 0.75, photo.top() + photo.height() * 0.62),
                              QPointF(photo.right() - 1.5, photo.bottom() - 1.5)}));
    p.setBrush(ink);
    p.drawEllipse(QPointF(photo.right() - photo.width() * 0.25, photo.top() + photo.height() * 0.28), 1, 1);
    const QPointF centre(r.right() - 3.5, r.bottom() - 3.5);
    p.setPen(Qt::NoPen);
    p.drawEllipse(centre, 4.5, 4.5);
    p.setPen(QPen(Qt::white, 1.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre - QPointF(2.2, 0), centre + QPointF(2.2, 0));
    p.drawLine(centre - QPointF(0, 2.2), centre + QPointF(0, 2.2));
    p.restore();
}

// The "加截图" tile: a dashed rounded square that lights up while a drag hovers over the area.
class AddTile : public QAbstractButton {
public:
    explicit AddTile(QWidget* parent) : QAbstractButton(parent)
    {
        setObjectName(QStringLiteral("addImageTile"));
        setText(QStringLiteral("加截图"));
        setToolTip(QStringLiteral("选图片；也可以把截图拖到这里，或复制后按 Ctrl+V 粘贴"));
        setFixedSize(thumbSize.width() + badgeOffset, thumbSize.height() + badgeOffset);
        setCursor(Qt::PointingHandCursor);
        setProperty("dropTargeted", false);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF frame(QPointF(0, badgeOffset), QSizeF(thumbSize));
        const bool lit = property("dropTargeted").toBool();
        p.setPen(Qt::NoPen);
        p.setBrush(lit ? Theme::faded(QStringLiteral("accent"), 0.15) : Theme::faded(QString(), isDown() ? 0.1 : 0.05));
        p.drawPath(rounded(frame, 6));
        QPen dashed(Theme::faded(QStringLiteral("secondary"), 0.5), 1);
        dashed.setDashPattern({3, 3});
        p.setPen(dashed);
        p.setBrush(Qt::NoBrush);
        p.drawPath(rounded(frame.adjusted(0.5, 0.5, -0.5, -0.5), 5.5));

        QFont caption = font();
        caption.setPointSizeF(std::max(6.0, caption.pointSizeF() - 2));
        const int textHeight = QFontMetrics(caption).height();
        const int iconSide = 16;
        const int top = int(frame.top() + (frame.height() - iconSide - 2 - textHeight) / 2);
        drawPhotoPlus(p, QRectF(frame.center().x() - iconSide / 2.0, top, iconSide, iconSide));
        p.setFont(caption);
        p.setPen(Theme::color(QString()));
        p.drawText(QRectF(frame.left(), top + iconSide + 2, frame.width(), textHeight), Qt::AlignCenter, text());
    }
};
} // namespace

AttachmentArea::AttachmentArea(FeedbackModel& model, QWidget* parent) : QWidget(parent), model(model)
{
    setObjectName(QStringLiteral("attachmentArea"));
    setAcceptDrops(true);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(8);
    row = new QHBoxLayout;
    row->setSpacing(8);
    stack->addLayout(row);

    addTile = new AddTile(this);
    connect(static_cast<AddTile*>(addTile), &QAbstractButton::clicked, this, &AttachmentArea::pickRequested);
    newestButton = new QPushButton(this);
    newestButton->setObjectName(QStringLiteral("newestShotButton"));
    QFont small = newestButton->font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() - 1));
    newestButton->setFont(small);
    connect(newestButton, &QPushButton::clicked, this, &AttachmentArea::newestShotRequested);
    row->addWidget(addTile, 0, Qt::AlignBottom);
    row->addWidget(newestButton, 0, Qt::AlignVCenter);
    row->addStretch(1);

    auto* hint = new StatusLabel(QStringLiteral("secondary"), this);
    hint->setObjectName(QStringLiteral("attachmentHint"));
    hint->setSizeStep(-2);
    hint->setText(QStringLiteral("截图：拖进来、点「加截图」选，或复制后按 Ctrl+V 粘贴。最多 %1 张。")
                      .arg(FeedbackModel::maxImages));
    stack->addWidget(hint);
    refresh();
}

void AttachmentArea::setNewestShot(std::optional<qint64> number)
{
    newest = number;
    refresh();
}

void AttachmentArea::refresh()
{
    // Cells are kept by attachment id, so a refresh never rebuilds thumbnails that did not change.
    QList<QUuid> ids;
    for (const FeedbackModel::Attachment& a : model.images())
        ids.append(a.id);
    if (ids != order) {
        QHash<QUuid, QWidget*> kept;
        int index = 0;
        for (const FeedbackModel::Attachment& a : model.images()) {
            QWidget* cell = cells.take(a.id);
            if (!cell) {
                auto* made = new AttachmentCell(a.image, this);
                connect(made->remove, &QAbstractButton::clicked, this, [this, id = a.id] { model.remove(id); });
                cell = made;
            } else {
                row->removeWidget(cell);
            }
            row->insertWidget(index++, cell, 0, Qt::AlignBottom);
            kept.insert(a.id, cell);
        }
        qDeleteAll(cells);
        cells = kept;
        order = ids;
    }
    const bool room = model.canAddImages();
    addTile->setVisible(room);
    newestButton->setVisible(room && newest.has_value());
    if (newest)
        newestButton->setText(QStringLiteral("加上最近一张（截图%1）").arg(*newest));
}

bool AttachmentArea::offersImages(const QMimeData* mime)
{
    if (!mime)
        return false;
    if (mime->hasImage())
        return true;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile())
            return true;
    return false;
}

bool AttachmentArea::load(FeedbackModel& model, const QMimeData* mime)
{
    if (!offersImages(mime))
        return false;
    if (mime->hasImage()) {
        model.add(qvariant_cast<QImage>(mime->imageData()));
        return true;
    }
    QStringList files;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile())
            files.append(url.toLocalFile());
    model.addFiles(files);
    return true;
}

void AttachmentArea::setHovering(bool on)
{
    hovering = on;
    addTile->setProperty("dropTargeted", on);
    addTile->update();
}

void AttachmentArea::dragEnterEvent(QDragEnterEvent* event)
{
    if (!offersImages(event->mimeData()))
        return;
    event->acceptProposedAction();
    setHovering(true);
}

void AttachmentArea::dragLeaveEvent(QDragLeaveEvent*) { setHovering(false); }

void AttachmentArea::dropEvent(QDropEvent* event)
{
    setHovering(false);
    load(model, event->mimeData());
    event->acceptProposedAction();
}
