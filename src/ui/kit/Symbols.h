#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

// Icons named by the system's symbol names ("info.circle", "lock.slash.fill", …): the desktop theme's
// icon where it has one, else a built-in stand-in from the widget style.
class Symbols {
public:
    static QIcon icon(const QString& symbol);
    // The icon at `side` pixels, scaled up when it has no picture that large.
    static QPixmap pixmap(const QIcon& icon, int side);
    // The symbol at `side` pixels, every pixel painted in one colour.
    static QPixmap tinted(const QString& symbol, int side, const QColor& color);
    // The application's own icon (the window icon when one is set).
    static QIcon appIcon();
    // tarnel's tray icon, also the windows' icon.
    static QIcon trayGlyph();
};
