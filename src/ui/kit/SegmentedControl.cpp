#include "ui/kit/SegmentedControl.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPushButton>

namespace {
QString segmentStyle(bool first, bool last)
{
    const int left = first ? 6 : 0;
    const int right = last ? 6 : 0;
    return QStringLiteral(
               "QPushButton { border: 1px solid palette(mid); %1 padding: 3px 6px; background: palette(base);"
               " border-top-left-radius: %2px; border-bottom-left-radius: %2px;"
               " border-top-right-radius: %3px; border-bottom-right-radius: %3px; }"
               "QPushButton:hover { background: palette(alternate-base); }"
               "QPushButton:checked { background: palette(highlight); color: palette(highlighted-text);"
               " border-color: palette(highlight); }")
        .arg(first ? QString() : QStringLiteral("border-left: none;"))
        .arg(left)
        .arg(right);
}
} // namespace

SegmentedControl::SegmentedControl(int count, QWidget* parent) : QWidget(parent), group(new QButtonGroup(this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    group->setExclusive(true);
    for (int i = 0; i < count; ++i) {
        auto* button = new QPushButton(this);
        button->setObjectName(QStringLiteral("segment%1").arg(i));
        button->setCheckable(true);
        button->setFocusPolicy(Qt::TabFocus);
        button->setStyleSheet(segmentStyle(i == 0, i == count - 1));
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        group->addButton(button, i);
        row->addWidget(button);
        segments.append(button);
    }
    connect(group, &QButtonGroup::idClicked, this, &SegmentedControl::activated);
}

void SegmentedControl::setLabel(int index, const QString& text)
{
    if (QPushButton* button = segments.value(index); button && button->text() != text)
        button->setText(text);
}

QString SegmentedControl::label(int index) const
{
    const QPushButton* button = segments.value(index);
    return button ? button->text() : QString();
}

int SegmentedControl::currentIndex() const { return group->checkedId(); }

void SegmentedControl::setCurrentIndex(int index)
{
    if (QPushButton* button = segments.value(index); button && !button->isChecked())
        button->setChecked(true);
}
