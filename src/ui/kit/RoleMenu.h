#pragma once

#include <QMenu>

// A menu whose items may carry a theme colour role as the action's "colorRole" property ("red" for a
// destructive item); such an item's text is drawn in that colour while it is not highlighted.
class RoleMenu : public QMenu {
    Q_OBJECT
public:
    using QMenu::QMenu;

    // Marks `action` with `role`.
    static void setRole(QAction* action, const QString& role);

protected:
    void initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const override;
};
