#include "ui/kit/KeyedWidgetList.h"

#include <QVBoxLayout>

KeyedWidgetList::KeyedWidgetList(KeyedWidgets::Create create, QWidget* parent)
    : QWidget(parent), widgets(std::move(create)), column(new QVBoxLayout(this))
{
    column->setContentsMargins(0, 0, 0, 0);
}

void KeyedWidgetList::setSpacing(int spacing) { column->setSpacing(spacing); }

void KeyedWidgetList::setKeys(const QStringList& keys)
{
    if (keys == order)
        return;
    const QSet<QString> wanted(keys.cbegin(), keys.cend());
    for (const QString& key : std::as_const(order))
        if (!wanted.contains(key)) {
            column->removeWidget(widgets.find(key));
            widgets.drop(key);
        }
    // Only what moved is touched: a widget already at its place stays in the layout.
    for (int i = 0; i < keys.size(); ++i) {
        QWidget* widget = widgets.obtain(keys[i], this);
        const int at = column->indexOf(widget);
        if (at == i)
            continue;
        if (at >= 0)
            column->removeWidget(widget);
        column->insertWidget(i, widget);
        widget->show();
    }
    order = keys;
}
