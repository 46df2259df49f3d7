#pragma once

#include "ui/kit/KeyedWidgets.h"

#include <QHash>
#include <QPointer>
#include <QStringList>
#include <QWidget>

class QScrollArea;
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
    // None while the key's widget is not built.
    QWidget* widget(const QString& key) const { return widgets.find(key); }
    template <typename T> T* widgetAs(const QString& key) const { return qobject_cast<T*>(widget(key)); }

    // From now on a widget is built only when its place comes within a screen of what `scroll` (which holds
    // this list) shows; until then a blank of the last built widget's height keeps its place. A built widget
    // stays built.
    void buildWhenInView(QScrollArea* scroll);
    int builtCount() const { return widgets.size(); }

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* slot(const QString& key);
    void buildInView();

    KeyedWidgets widgets;
    QStringList order;
    QVBoxLayout* column;
    QPointer<QScrollArea> scroll; // set: built lazily
    QHash<QString, QWidget*> blanks;
    int blankHeight = 96;
    bool building = false;
};
