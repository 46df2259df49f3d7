#include "ui/kit/StatusDot.h"

#include "ui/kit/Theme.h"

#include <QPainter>
#include <QRadialGradient>
#include <QSequentialAnimationGroup>
#include <QVariantAnimation>

StatusDot::StatusDot(int diameter, QWidget* parent) : QWidget(parent), diameter(diameter)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* breathe = new QSequentialAnimationGroup(this);
    for (const auto& [from, to] : {std::pair<qreal, qreal>(1.0, dimmed), std::pair<qreal, qreal>(dimmed, 1.0)}) {
        auto* half = new QVariantAnimation(breathe);
        half->setStartValue(from);
        half->setEndValue(to);
        half->setDuration(halfPulseMs);
        half->setEasingCurve(QEasingCurve::InOutSine);
        connect(half, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
            alpha = value.toReal();
            update();
        });
        breathe->addAnimation(half);
    }
    breathe->setLoopCount(-1);
    pulse = breathe;
    setColorRole(QStringLiteral("gray"));
}

void StatusDot::setColorRole(const QString& newRole)
{
    role = newRole;
    update();
}

void StatusDot::setGlowing(bool on)
{
    if (glow == on)
        return;
    glow = on;
    update();
}

bool StatusDot::pulsing() const { return pulse->state() == QAbstractAnimation::Running; }

void StatusDot::setPulsing(bool on)
{
    if (on == pulsing())
        return;
    if (on) {
        pulse->start();
    } else {
        pulse->stop();
        alpha = 1.0;
        update();
    }
}

QSize StatusDot::sizeHint() const { return QSize(diameter + 2 * glowRadius, diameter + 2 * glowRadius); }

void StatusDot::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(alpha);
    const QPointF centre = QRectF(rect()).center();
    const qreal r = diameter / 2.0;
    if (glow) {
        QRadialGradient halo(centre, r + glowRadius);
        halo.setColorAt(r / (r + glowRadius), Theme::faded(role, 0.5));
        halo.setColorAt(1.0, Theme::faded(role, 0.0));
        painter.setPen(Qt::NoPen);
        painter.setBrush(halo);
        painter.drawEllipse(centre, r + glowRadius, r + glowRadius);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme::color(role));
    painter.drawEllipse(centre, r, r);
}
