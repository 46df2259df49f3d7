#include "ui/panel/GateBar.h"

#include "app/AppState.h"
#include "ui/kit/StatusLabel.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Theme.h"
#include "ui/panel/PanelModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

GateBar::GateBar(PanelContext context, QWidget* parent) : QWidget(parent), context(context)
{
    setObjectName(QStringLiteral("gateBar"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 10, 16, 10);
    row->setSpacing(10);
    symbol = new QLabel(this);
    text = new StatusLabel(QString(), this);
    text->setObjectName(QStringLiteral("gateText"));
    action = new QPushButton(this);
    action->setObjectName(QStringLiteral("gateButton"));
    connect(action, &QPushButton::clicked, this, [this] {
        if (this->context.closePanel)
            this->context.closePanel();
        if (this->context.app.showLoginWindow)
            this->context.app.showLoginWindow(false);
    });
    row->addWidget(symbol);
    row->addWidget(text, 1);
    row->addWidget(action);
}

void GateBar::refresh(const std::optional<GateBarLook>& look)
{
    setVisible(look.has_value());
    if (!look)
        return;
    if (shownSymbol != look->symbol) {
        shownSymbol = look->symbol;
        symbol->setPixmap(Symbols::tinted(look->symbol, 18, Theme::color(QStringLiteral("orange"))));
    }
    text->setText(look->text);
    action->setText(look->button);
}

void GateBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Theme::faded(QStringLiteral("orange"), 0.10));
}
