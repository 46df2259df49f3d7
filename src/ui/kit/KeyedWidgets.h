#pragma once

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QWidget>
#include <functional>

// One widget per key, kept by identity (a shot's name, a server's or a peer's id): what the keyed list and
// the keyed grid share. A widget lives until its key is dropped; it is never rebuilt for the same key.
class KeyedWidgets {
public:
    // Builds the widget for a key; it must already be filled with the key's current content.
    using Create = std::function<QWidget*(const QString& key)>;

    explicit KeyedWidgets(Create create) : create(std::move(create)) {}
    ~KeyedWidgets();
    KeyedWidgets(const KeyedWidgets&) = delete;
    KeyedWidgets& operator=(const KeyedWidgets&) = delete;

    QWidget* find(const QString& key) const { return widgets.value(key); }
    // The key's widget, built (as a child of `parent`) when it has none yet.
    QWidget* obtain(const QString& key, QWidget* parent);
    void drop(const QString& key);
    // Drops every widget whose key is not in `keep`.
    void keepOnly(const QSet<QString>& keep);
    QList<QString> keys() const { return widgets.keys(); }
    int size() const { return int(widgets.size()); }

private:
    Create create;
    QHash<QString, QPointer<QWidget>> widgets;
};
