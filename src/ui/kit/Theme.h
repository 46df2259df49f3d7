#pragma once

#include <QColor>
#include <QString>

class QWidget;

// The named colours of the interface. Widgets keep the role name as their "colorRole" property, so tests
// read the role instead of pixels. Roles: accent (the highlight colour), secondary, tertiary, red, orange,
// yellow, green, gray; anything else is the normal text colour.
class Theme {
public:
    static QColor color(const QString& role);
    // The colour at an opacity between 0 and 1.
    static QColor faded(const QString& role, double opacity);
    // Sets the role property and the text colour of the widget's palette.
    static void applyTextRole(QWidget& widget, const QString& role);
    // Only the text colour of the widget's palette (for widgets that keep the role themselves).
    static void paintText(QWidget& widget, const QString& role);
};
