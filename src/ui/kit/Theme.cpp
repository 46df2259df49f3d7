#include "ui/kit/Theme.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>

QColor Theme::color(const QString& role)
{
    const QPalette palette = QApplication::palette();
    if (role == QLatin1String("accent"))
        return palette.color(QPalette::Highlight);
    if (role == QLatin1String("secondary"))
        return palette.color(QPalette::PlaceholderText).darker(130);
    if (role == QLatin1String("tertiary"))
        return palette.color(QPalette::PlaceholderText);
    if (role == QLatin1String("red"))
        return QColor(0xd7, 0x26, 0x1e);
    if (role == QLatin1String("orange"))
        return QColor(0xf0, 0x8a, 0x00);
    if (role == QLatin1String("yellow"))
        return QColor(0xd9, 0xa4, 0x00);
    if (role == QLatin1String("green"))
        return QColor(0x2e, 0x9e, 0x44);
    if (role == QLatin1String("gray"))
        return QColor(0x8e, 0x8e, 0x93);
    return palette.color(QPalette::WindowText);
}

QColor Theme::faded(const QString& role, double opacity)
{
    QColor c = color(role);
    c.setAlphaF(float(opacity));
    return c;
}

void Theme::applyTextRole(QWidget& widget, const QString& role)
{
    // A widget that declares colorRole as its own property applies the role in its setter, which calls
    // back here: write the property only when it differs, or the two recurse until the stack runs out.
    if (widget.property("colorRole").toString() != role)
        widget.setProperty("colorRole", role);
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, color(role));
    palette.setColor(QPalette::ButtonText, color(role));
    palette.setColor(QPalette::Text, color(role));
    widget.setPalette(palette);
}
