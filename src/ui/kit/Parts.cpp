#include "ui/kit/Parts.h"

#include "ui/kit/StatusLabel.h"

#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace Parts {

QFrame* divider(QWidget* parent, QFrame::Shadow shadow)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(shadow);
    if (shadow == QFrame::Plain)
        line->setForegroundRole(QPalette::Mid);
    return line;
}

QLabel* heading(const QString& text, QWidget* parent, qreal larger)
{
    auto* label = new QLabel(text, parent);
    QFont bold = label->font();
    if (larger != 0)
        bold.setPointSizeF(bold.pointSizeF() + larger);
    bold.setBold(true);
    label->setFont(bold);
    return label;
}

QPushButton* button(const char* name, const QString& label, QWidget* parent)
{
    auto* b = new QPushButton(label, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
}

StatusLabel* text(const QString& role, int sizeStep, QWidget* parent, const QString& content)
{
    auto* label = new StatusLabel(role, parent);
    label->setSizeStep(sizeStep);
    label->setText(content);
    return label;
}

StatusLabel* caption(const QString& content, QWidget* parent)
{
    return text(QStringLiteral("secondary"), -2, parent, content);
}

QScrollArea* verticalScroll(QWidget* parent)
{
    auto* scroll = new QScrollArea(parent);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return scroll;
}

QVBoxLayout* fill(QWidget& outer, QWidget* content, int margin)
{
    auto* layout = new QVBoxLayout(&outer);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->addWidget(content);
    return layout;
}

QVBoxLayout* scrollingColumn(QWidget& page, int margin, int spacing)
{
    QScrollArea* scroll = verticalScroll(&page);
    auto* content = new QWidget(scroll);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(margin, margin, margin, margin);
    column->setSpacing(spacing);
    scroll->setWidget(content);
    fill(page, scroll);
    return column;
}

} // namespace Parts
