#pragma once

#include <QWidget>

class QAbstractAnimation;

// A small filled circle in one of the theme's colour roles, optionally with a soft glow of the same
// colour; while pulsing it breathes between full and 0.35 opacity (0.7 s each way, forever). The role,
// glow and pulse are properties, so tests read them instead of pixels.
class StatusDot : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString colorRole READ colorRole WRITE setColorRole)
    Q_PROPERTY(bool glowing READ glowing WRITE setGlowing)
    Q_PROPERTY(bool pulsing READ pulsing WRITE setPulsing)
    Q_PROPERTY(qreal opacity READ opacity)
public:
    static constexpr qreal dimmed = 0.35;
    static constexpr int halfPulseMs = 700;

    explicit StatusDot(int diameter, QWidget* parent = nullptr);

    QString colorRole() const { return role; }
    void setColorRole(const QString& role);
    bool glowing() const { return glow; }
    void setGlowing(bool on);
    bool pulsing() const;
    void setPulsing(bool on);
    qreal opacity() const { return alpha; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static constexpr int glowRadius = 3;

    int diameter;
    QString role;
    bool glow = false;
    qreal alpha = 1.0;
    QAbstractAnimation* pulse;
};
