#include "ui/kit/KeyedWidgetList.h"

#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

KeyedWidgetList::KeyedWidgetList(KeyedWidgets::Create create, QWidget* parent)
    : QWidget(parent), widgets(std::move(create)), column(new QVBoxLayout(this))
{
    column->setContentsMargins(0, 0, 0, 0);
}

void KeyedWidgetList::setSpacing(int spacing) { column->setSpacing(spacing); }

void KeyedWidgetList::buildWhenInView(QScrollArea* area)
{
    scroll = area;
    QScrollBar* bar = area->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, &KeyedWidgetList::buildInView);
    // The view grew or shrank, or what it holds did.
    connect(bar, &QScrollBar::rangeChanged, this, &KeyedWidgetList::buildInView);
}

// The key's widget, or when it is to wait for the view, its blank.
QWidget* KeyedWidgetList::slot(const QString& key)
{
    if (QWidget* built = widgets.find(key))
        return built;
    if (!scroll)
        return widgets.obtain(key, this);
    QWidget*& blank = blanks[key];
    if (!blank) {
        blank = new QWidget(this);
        blank->setFixedHeight(blankHeight);
    }
    return blank;
}

void KeyedWidgetList::setKeys(const QStringList& keys)
{
    if (keys == order)
        return;
    const QSet<QString> wanted(keys.cbegin(), keys.cend());
    for (const QString& key : std::as_const(order))
        if (!wanted.contains(key)) {
            if (QWidget* blank = blanks.take(key)) {
                column->removeWidget(blank);
                delete blank;
                continue;
            }
            column->removeWidget(widgets.find(key));
            widgets.drop(key);
        }
    // Only what moved is touched: a widget already at its place stays in the layout.
    for (int i = 0; i < keys.size(); ++i) {
        QWidget* widget = slot(keys[i]);
        const int at = column->indexOf(widget);
        if (at == i)
            continue;
        if (at >= 0)
            column->removeWidget(widget);
        column->insertWidget(i, widget);
        widget->show();
    }
    order = keys;
    buildInView();
}

void KeyedWidgetList::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    buildInView();
}

void KeyedWidgetList::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    buildInView();
}

// Places are added up from the widgets' own heights, not read from the layout, which may not have run yet.
void KeyedWidgetList::buildInView()
{
    if (!scroll || blanks.isEmpty() || building || !isVisible())
        return;
    building = true;
    const QWidget* view = scroll->viewport();
    const int screen = std::max(view->height(), 400);
    const int top = mapFrom(view, QPoint(0, 0)).y() - screen;
    const int bottom = top + view->height() + 2 * screen;
    int y = 0;
    for (int i = 0; i < order.size() && y < bottom; ++i) {
        const QString& key = order[i];
        QWidget* blank = blanks.value(key);
        if (blank && y + blank->height() >= top) {
            blanks.remove(key);
            QWidget* built = widgets.obtain(key, this);
            column->replaceWidget(blank, built);
            delete blank;
            built->show();
            blankHeight = std::max(1, built->sizeHint().height());
            blank = nullptr;
        }
        const QWidget* placed = blank ? blank : widgets.find(key);
        y += (blank ? blank->height() : placed->sizeHint().height()) + column->spacing();
    }
    building = false;
}
