#pragma once

#include "ui/kit/KeyedWidgets.h"

#include <QStringList>
#include <QWidget>

class QVBoxLayout;

// A vertical list with one widget per key (servers by id, peers by id): setting the keys builds widgets
// only for new keys, deletes those whose key vanished and moves the rest, so typed text, focus and hover
// survive a republication.
class KeyedWidgetList : public QWidget {
    Q_OBJECT
public:
    explicit KeyedWidgetList(KeyedWidgets::Create create, QWidget* parent = nullptr);

    void setSpacing(int spacing);
    void setKeys(const QStringList& keys);
    const QStringList& keys() const { return order; }
    QWidget* widget(const QString& key) const { return widgets.find(key); }
    template <typename T> T* widgetAs(const QString& key) const { return qobject_cast<T*>(widget(key)); }

private:
    KeyedWidgets widgets;
    QStringList order;
    QVBoxLayout* column;
};
