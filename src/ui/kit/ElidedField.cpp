#include "ui/kit/ElidedField.h"

#include <QFocusEvent>
#include <QStyle>
#include <QStyleOptionFrame>

ElidedField::ElidedField(QWidget* parent) : QLineEdit(parent)
{
    setReadOnly(true);
    setFrame(false);
}

void ElidedField::setFullText(const QString& text)
{
    if (text == full)
        return;
    full = text;
    reshow();
}

void ElidedField::resizeEvent(QResizeEvent* event)
{
    QLineEdit::resizeEvent(event);
    reshow();
}

void ElidedField::focusInEvent(QFocusEvent* event)
{
    reshow(); // before the press that gave the focus places the cursor
    QLineEdit::focusInEvent(event);
}

void ElidedField::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    reshow();
}

void ElidedField::reshow()
{
    if (hasFocus()) {
        if (text() != full)
            setText(full);
        return;
    }
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QRect room = style()->subElementRect(QStyle::SE_LineEditContents, &option, this)
                           .marginsRemoved(textMargins());
    // The line edit keeps a couple of pixels on each side of its text.
    setText(fontMetrics().elidedText(full, Qt::ElideMiddle, room.width() - 4));
    setCursorPosition(0);
}
