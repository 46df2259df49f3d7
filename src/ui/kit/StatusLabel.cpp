#include "ui/kit/StatusLabel.h"

#include "ui/kit/Theme.h"

StatusLabel::StatusLabel(const QString& role, QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setColorRole(role);
}

void StatusLabel::setColorRole(const QString& newRole)
{
    role = newRole;
    Theme::paintText(*this, role);
}

void StatusLabel::setSizeStep(int step)
{
    QFont f = font();
    f.setPointSizeF(std::max(6.0, QFont().pointSizeF() + step));
    setFont(f);
}
