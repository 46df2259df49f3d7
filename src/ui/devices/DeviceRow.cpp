#include "ui/devices/DeviceRow.h"

#include "ui/kit/Parts.h"
#include "ui/kit/StatusLabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

DeviceRow::DeviceRow(QWidget* mark, int indent, const char* stateName, const char* buttonName, QWidget* parent)
    : QWidget(parent)
{
    row = new QHBoxLayout(this);
    row->setContentsMargins(indent, 0, 0, 0);
    row->setSpacing(8);
    mark->setParent(this);
    row->addWidget(mark);
    name = new QLabel(this);
    name->setTextFormat(Qt::PlainText);
    QFont smaller = name->font();
    smaller.setPointSizeF(smaller.pointSizeF() - 1);
    name->setFont(smaller);
    row->addWidget(name);
    state = Parts::note(stateName, this);
    state->setWordWrap(false);
    row->addWidget(state);
    row->addStretch(1);
    button = Parts::button(buttonName, QString(), this);
    row->addWidget(button);
}

void DeviceRow::addAfterName(QWidget* widget)
{
    widget->setParent(this);
    row->insertWidget(row->indexOf(name) + 1, widget);
}
