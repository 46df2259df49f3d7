#pragma once

#include <QColor>
#include <QWidget>

// A rounded rectangle with a fill and a one-pixel edge, behind its children. Colours without a value
// follow the palette: the base colour for the fill, the mid colour for the edge.
class FilledPanel : public QWidget {
    Q_OBJECT
public:
    explicit FilledPanel(int radius, QWidget* parent = nullptr);

    void setFill(const QColor& color);
    void setEdge(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int radius;
    QColor fill;
    QColor edge;
};
