#include "ui/kit/KeyedWidgets.h"

KeyedWidgets::~KeyedWidgets()
{
    for (const QPointer<QWidget>& widget : std::as_const(widgets))
        delete widget.data();
}

QWidget* KeyedWidgets::obtain(const QString& key, QWidget* parent)
{
    if (QWidget* existing = widgets.value(key))
        return existing;
    QWidget* made = create(key);
    made->setParent(parent);
    widgets.insert(key, made);
    return made;
}

void KeyedWidgets::drop(const QString& key)
{
    if (QWidget* widget = widgets.take(key)) {
        // Hidden at once, deleted once the event that led here has been handled (it may come from the widget).
        widget->hide();
        widget->deleteLater();
    }
}

void KeyedWidgets::keepOnly(const QSet<QString>& keep)
{
    const QList<QString> present = widgets.keys();
    for (const QString& key : present)
        if (!keep.contains(key))
            drop(key);
}
