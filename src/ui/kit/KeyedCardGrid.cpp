#include "ui/kit/KeyedCardGrid.h"

#include <QApplication>
#include <algorithm>

KeyedCardGrid::KeyedCardGrid(KeyedWidgets::Create create, QWidget* parent) : QWidget(parent), widgets(std::move(create))
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void KeyedCardGrid::setColumns(int n)
{
    columns = std::max(1, n);
    place();
}

void KeyedCardGrid::setSpacing(int horizontal, int vertical)
{
    hSpacing = horizontal;
    vSpacing = vertical;
    place();
}

void KeyedCardGrid::setMargin(int m)
{
    margin = m;
    place();
}

void KeyedCardGrid::setKeys(const QStringList& keys)
{
    if (keys == order)
        return;
    const qsizetype added = keys.size() - order.size();
    const bool inFront = added > 0 && !order.isEmpty() && std::equal(order.cbegin(), order.cend(), keys.cbegin() + added);
    order = keys;
    if (!inFront) {
        fromEnd.clear();
        fromEnd.reserve(keys.size());
    }
    for (qsizetype i = 0; i < (inFront ? added : keys.size()); ++i)
        fromEnd.insert(keys[i], int(keys.size() - 1 - i));
    if (!inFront)
        for (const QString& key : widgets.keys())
            if (!fromEnd.contains(key))
                widgets.drop(key);
    place();
}

void KeyedCardGrid::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    place();
}

void KeyedCardGrid::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    place();
}

void KeyedCardGrid::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    place();
}

QRect KeyedCardGrid::visibleArea() const
{
    const QWidget* viewport = parentWidget();
    if (!viewport)
        return rect();
    return QRect(mapFromParent(QPoint(0, 0)), viewport->size()) & rect();
}

QRect KeyedCardGrid::cell(int i) const
{
    const int width = std::max(1, (this->width() - 2 * margin - (columns - 1) * hSpacing) / columns);
    const int row = i / columns;
    const int column = i % columns;
    return QRect(margin + column * (width + hSpacing), margin + row * (rowHeight + vSpacing), width, rowHeight);
}

int KeyedCardGrid::rowAt(int y) const { return std::max(0, (y - margin) / std::max(1, rowHeight + vSpacing)); }

bool KeyedCardGrid::holdsFocus(const QWidget* card) const
{
    const QWidget* focus = QApplication::focusWidget();
    return focus && (focus == card || card->isAncestorOf(focus));
}

void KeyedCardGrid::place()
{
    // Nothing is built for a grid nobody sees; showing it builds the first screen.
    if (placing || !isVisible())
        return;
    placing = true;
    if (rowHeight == 0 && !order.isEmpty()) {
        const QWidget* first = widgets.obtain(order.first(), this);
        rowHeight = std::max(1, first->sizeHint().expandedTo(first->minimumSize()).height());
    }
    const int rows = (int(order.size()) + columns - 1) / columns;
    const int height = rows == 0 ? 0 : 2 * margin + rows * rowHeight + (rows - 1) * vSpacing;
    if (minimumHeight() != height)
        setMinimumHeight(height);

    const QRect visible = visibleArea();
    const int screen = std::max(1, visible.height());
    const int firstBuilt = rowAt(visible.top() - screen), lastBuilt = rowAt(visible.bottom() + screen);
    const int firstKept = rowAt(visible.top() - 3 * screen), lastKept = rowAt(visible.bottom() + 3 * screen);

    for (const QString& key : widgets.keys()) {
        const int row = positionOf(key) / columns;
        QWidget* card = widgets.find(key);
        if ((row < firstKept || row > lastKept) && !holdsFocus(card))
            widgets.drop(key);
        else
            card->setGeometry(cell(positionOf(key)));
    }
    const int end = std::min(int(order.size()), (lastBuilt + 1) * columns);
    for (int i = firstBuilt * columns; i < end; ++i) {
        QWidget* card = widgets.obtain(order[i], this);
        card->setGeometry(cell(i));
        card->show();
    }
    placing = false;
}
