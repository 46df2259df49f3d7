#pragma once

#include <QColor>
#include <QFrame>

// A panel with rounded corners on a slightly translucent window-coloured fill, optionally with a soft
// drop shadow. Lay the content out in it as in any widget.
class RoundedCard : public QFrame {
    Q_OBJECT
public:
    explicit RoundedCard(int radius = 12, QWidget* parent = nullptr);

    // A shadow of this colour (alpha included), blur radius and offset.
    void setShadow(const QColor& color, int blur, QPoint offset);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int radius;
};
