#include "ui/account/DisabledCard.h"

#include "account/LoginDisabledForm.h"
#include "account/QXServer.h"
#include "ui/kit/BusyButton.h"
#include "ui/kit/LinkButton.h"
#include "ui/kit/Parts.h"
#include "ui/kit/StatusLabel.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Theme.h"

#include <QKeyEvent>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

DisabledCard::DisabledCard(LoginDisabledForm& form, QWidget* parent)
    : GradientBackground(Theme::faded(QStringLiteral("orange"), 0.10), Direction::vertical, parent), form(form)
{
    setObjectName(QStringLiteral("disabledCard"));
    auto* stack = new QVBoxLayout(this);
    stack->setSpacing(18);
    stack->setContentsMargins(36, 36, 36, 36);
    stack->setAlignment(Qt::AlignCenter);

    auto* symbol = new QLabel(this);
    symbol->setObjectName(QStringLiteral("lockSymbol"));
    symbol->setProperty("colorRole", QStringLiteral("orange"));
    symbol->setPixmap(Symbols::tinted(QStringLiteral("lock.slash.fill"), 64, Theme::color(QStringLiteral("orange"))));
    stack->addWidget(symbol, 0, Qt::AlignHCenter);

    auto* title = new QLabel(LoginDisabledForm::title(), this);
    title->setObjectName(QStringLiteral("titleLabel"));
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() + 7);
    titleFont.setBold(true);
    title->setFont(titleFont);
    stack->addWidget(title, 0, Qt::AlignHCenter);

    explanation = new StatusLabel(QStringLiteral("secondary"), this);
    explanation->setObjectName(QStringLiteral("explanationLabel"));
    explanation->setSizeStep(-1);
    explanation->setAlignment(Qt::AlignHCenter);
    explanation->setFixedWidth(340);
    stack->addLayout(Parts::centred(explanation));

    result = new StatusLabel(QStringLiteral("secondary"), this);
    result->setObjectName(QStringLiteral("resultLabel"));
    result->setSizeStep(-1);
    result->setAlignment(Qt::AlignHCenter);
    result->setFixedWidth(340);
    stack->addLayout(Parts::centred(result));

    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(10);
    recheckButton = new BusyButton(LoginDisabledForm::recheckLabel(), this);
    recheckButton->setObjectName(QStringLiteral("recheckButton"));
    recheckButton->makeProminent(240);
    recheckButton->setDefault(true);
    connect(recheckButton, &QPushButton::clicked, &form, &LoginDisabledForm::recheck);
    auto* switchButton = new QPushButton(LoginDisabledForm::switchAccountLabel(), this);
    switchButton->setObjectName(QStringLiteral("switchAccountButton"));
    switchButton->setMinimumWidth(240 + 24);
    switchButton->setMinimumHeight(recheckButton->sizeHint().height());
    connect(switchButton, &QPushButton::clicked, this, &DisabledCard::signOutRequested);
    auto* quitButton = new LinkButton(LoginDisabledForm::quitLabel(), this);
    quitButton->setObjectName(QStringLiteral("quitButton"));
    connect(quitButton, &QPushButton::clicked, this, &DisabledCard::quitRequested);
    buttons->addWidget(recheckButton, 0, Qt::AlignHCenter);
    buttons->addWidget(switchButton, 0, Qt::AlignHCenter);
    buttons->addWidget(quitButton, 0, Qt::AlignHCenter);
    stack->addLayout(buttons);

    auto* footnote = new StatusLabel(QStringLiteral("tertiary"), this);
    footnote->setObjectName(QStringLiteral("footnoteLabel"));
    footnote->setSizeStep(-2);
    footnote->setWordWrap(false);
    footnote->setAlignment(Qt::AlignHCenter);
    footnote->setText(LoginDisabledForm::footnote(QXServer::defaultURL().host()));
    stack->addWidget(footnote, 0, Qt::AlignHCenter);

    connect(&form, &LoginDisabledForm::changed, this, &DisabledCard::scheduleRefresh);
    refresh();
}

void DisabledCard::showEvent(QShowEvent* event)
{
    GradientBackground::showEvent(event);
    // Return re-checks from the start: the focus comes into the card, onto its default button.
    if (isAncestorOf(window()->focusWidget()))
        return;
    if (recheckButton->isEnabled())
        recheckButton->setFocus(Qt::OtherFocusReason);
    else
        setFocus(Qt::OtherFocusReason);
}

void DisabledCard::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        form.recheck();
        return;
    }
    GradientBackground::keyPressEvent(event);
}

void DisabledCard::scheduleRefresh()
{
    if (refreshQueued)
        return;
    refreshQueued = true;
    QTimer::singleShot(0, this, &DisabledCard::refresh);
}

void DisabledCard::refresh()
{
    refreshQueued = false;
    explanation->setText(form.explanation());
    result->setVisible(form.result().has_value());
    result->setText(form.result().value_or(QString()));
    recheckButton->setBusy(form.checking());
    recheckButton->setEnabled(!form.checking());
}
