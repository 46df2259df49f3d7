#include "ui/kit/Sheet.h"

#include "ui/kit/Parts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

Sheet::Sheet(const char* name, const QString& windowTitle, int width, QWidget* parent) : QDialog(parent)
{
    setObjectName(QString::fromLatin1(name));
    setWindowModality(Qt::WindowModal);
    setWindowTitle(windowTitle);
    setFixedWidth(width);
    column = new QVBoxLayout(this);
    column->setContentsMargins(18, 18, 18, 18);
    column->setSpacing(12);
}

QLabel* Sheet::addTitle(const QString& text)
{
    QLabel* title = Parts::heading(text, this, 1);
    column->addWidget(title);
    return title;
}

QHBoxLayout* Sheet::addButtonRow()
{
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    column->addLayout(row);
    return row;
}

void Sheet::fitHeight()
{
    column->activate();
    const int height = column->hasHeightForWidth() ? column->totalHeightForWidth(width())
                                                   : column->totalSizeHint().height();
    resize(width(), std::max(height, column->totalMinimumSize().height()));
}
