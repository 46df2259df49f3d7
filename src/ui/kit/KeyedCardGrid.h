#pragma once

#include "ui/kit/KeyedWidgets.h"

#include <QHash>
#include <QStringList>
#include <QWidget>

// Cards of one height in equal columns, one per key (shots by name), meant to sit in a scroll area. A card
// is built only when its row comes near the visible part (one screen ahead), and let go again when it is
// far away (three screens), so a long list opens fast and holds few widgets; a card that stays in reach
// keeps its widget across republications, whatever moved around it. The row height is that of the first
// card built.
class KeyedCardGrid : public QWidget {
    Q_OBJECT
public:
    explicit KeyedCardGrid(KeyedWidgets::Create create, QWidget* parent = nullptr);

    void setColumns(int columns);
    void setSpacing(int horizontal, int vertical);
    void setMargin(int margin);

    void setKeys(const QStringList& keys);
    const QStringList& keys() const { return order; }
    // None while the key's card is not built.
    QWidget* widget(const QString& key) const { return widgets.find(key); }
    template <typename T> T* widgetAs(const QString& key) const { return qobject_cast<T*>(widget(key)); }
    // The built cards, for a view to refresh what they show.
    QList<QString> builtKeys() const { return widgets.keys(); }
    int builtCount() const { return widgets.size(); }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void place();
    QRect visibleArea() const;
    QRect cell(int index) const;
    int rowAt(int y) const;
    bool holdsFocus(const QWidget* card) const;

    KeyedWidgets widgets;
    QStringList order;
    // Places counted from the end, so keys put in front (new shots) leave the others' entries as they are.
    QHash<QString, int> fromEnd;
    int positionOf(const QString& key) const { return int(order.size()) - 1 - fromEnd.value(key); }
    int columns = 2;
    int hSpacing = 12;
    int vSpacing = 12;
    int margin = 14;
    int rowHeight = 0;
    bool placing = false;
};
