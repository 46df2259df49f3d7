#include "ui/kit/Badge.h"

#include "ui/kit/Theme.h"

#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int padX = 7;
constexpr int padY = 2;
} // namespace

Badge::Badge(const QString& text, const QString& role, QWidget* parent) : QLabel(text, parent), role(role)
{
    setTextFormat(Qt::PlainText);
    QFont f = font();
    f.setPointSizeF(std::max(6.0, f.pointSizeF() - 1));
    f.setWeight(QFont::Medium);
    setFont(f);
}

void Badge::setColorRole(const QString& newRole)
{
    if (role == newRole)
        return;
    role = newRole;
    update();
}

QSize Badge::sizeHint() const
{
    const QFontMetrics metrics(font());
    return QSize(metrics.horizontalAdvance(text()) + 2 * padX, metrics.height() + 2 * padY);
}

void Badge::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath capsule;
    capsule.addRoundedRect(box, box.height() / 2, box.height() / 2);
    painter.fillPath(capsule, Theme::faded(role, 0.9));
    painter.setPen(Qt::white);
    painter.drawText(rect(), Qt::AlignCenter, text());
}
