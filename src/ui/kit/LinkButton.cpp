#include "ui/kit/LinkButton.h"

#include "ui/kit/Theme.h"

LinkButton::LinkButton(const QString& text, QWidget* parent) : QPushButton(text, parent)
{
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0px; color: %1; }"
                                 "QPushButton:hover { text-decoration: underline; }")
                      .arg(Theme::color(QStringLiteral("accent")).name()));
    setProperty("colorRole", QStringLiteral("accent"));
}
