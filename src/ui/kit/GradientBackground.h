#pragma once

#include <QColor>
#include <QWidget>

// Fills itself with a gradient from a colour (top or top-left) to clear, under its children.
class GradientBackground : public QWidget {
    Q_OBJECT
public:
    enum class Direction { vertical, diagonal };

    GradientBackground(const QColor& from, Direction direction, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor from;
    Direction direction;
};
