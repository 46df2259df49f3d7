#pragma once

#include <QIcon>
#include <QString>

// Icons named by the system's symbol names ("info.circle", "lock.slash.fill", …): the desktop theme's
// icon where it has one, else a built-in stand-in from the widget style.
class Symbols {
public:
    static QIcon icon(const QString& symbol);
    // The application's own icon (the window icon when one is set).
    static QIcon appIcon();
};
