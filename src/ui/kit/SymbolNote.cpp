#include "ui/kit/SymbolNote.h"

#include "ui/kit/StatusLabel.h"
#include "ui/kit/Symbols.h"

#include <QHBoxLayout>

SymbolNote::SymbolNote(const QString& symbol, const QString& role, QWidget* parent)
    : QWidget(parent), symbolLabel(new QLabel(this)), textLabel(new StatusLabel(role, this))
{
    setProperty("colorRole", role);
    textLabel->setSizeStep(-1);
    textLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const int side = textLabel->fontMetrics().height();
    symbolLabel->setPixmap(Symbols::icon(symbol).pixmap(side, side));
    symbolLabel->setAlignment(Qt::AlignTop);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(symbolLabel, 0, Qt::AlignTop);
    row->addWidget(textLabel, 1);
}

void SymbolNote::setText(const QString& text) { textLabel->setText(text); }

QString SymbolNote::text() const { return textLabel->text(); }
