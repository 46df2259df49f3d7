#include "ui/kit/RoleMenu.h"

#include "ui/kit/Theme.h"

#include <QAction>
#include <QStyleOptionMenuItem>

void RoleMenu::setRole(QAction* action, const QString& role) { action->setProperty("colorRole", role); }

void RoleMenu::initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const
{
    QMenu::initStyleOption(option, action);
    const QString role = action ? action->property("colorRole").toString() : QString();
    if (role.isEmpty() || !action->isEnabled())
        return;
    const QColor ink = Theme::color(role);
    for (QPalette::ColorRole part : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText}) {
        option->palette.setColor(QPalette::Active, part, ink);
        option->palette.setColor(QPalette::Inactive, part, ink);
    }
}
