#include "ui/account/LoginCard.h"

#include "account/Account.h"
#include "account/QXServer.h"
#include "ui/kit/BusyButton.h"
#include "ui/kit/LinkButton.h"
#include "ui/kit/Parts.h"
#include "ui/kit/RoundedCard.h"
#include "ui/kit/StatusLabel.h"
#include "ui/kit/SymbolNote.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Theme.h"

#include <QGraphicsDropShadowEffect>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QVBoxLayout>

namespace {
constexpr int fieldWidth = 300;
}

LoginCard::LoginCard(LoginForm& form, Account& account, QWidget* parent)
    : GradientBackground(Theme::faded(QStringLiteral("accent"), 0.10), Direction::diagonal, parent),
      form(form), account(account)
{
    setObjectName(QStringLiteral("loginCard"));
    auto* card = new RoundedCard(20, this);
    card->setShadow(QColor(0, 0, 0, 20), 24, QPoint(0, 10));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(12, 8, 12, 8);
    outer->addWidget(card);

    auto* stack = new QVBoxLayout(card);
    stack->setSpacing(12);
    stack->setContentsMargins(36, 22, 36, 22);
    stack->setAlignment(Qt::AlignHCenter);
    // Spare height goes above and below the content, never between its items.
    stack->addStretch(1);

    auto* icon = new QLabel(card);
    icon->setPixmap(Symbols::pixmap(Symbols::appIcon(), 84));
    icon->setFixedSize(84, 84);
    auto* iconShadow = new QGraphicsDropShadowEffect(icon);
    iconShadow->setColor(QColor(0, 0, 0, 46));
    iconShadow->setBlurRadius(14);
    iconShadow->setOffset(0, 8);
    icon->setGraphicsEffect(iconShadow);
    stack->addWidget(icon, 0, Qt::AlignHCenter);

    auto* heading = new QVBoxLayout;
    heading->setSpacing(6);
    title = new QLabel(card);
    title->setObjectName(QStringLiteral("titleLabel"));
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() + 7);
    titleFont.setBold(true);
    title->setFont(titleFont);
    title->setAlignment(Qt::AlignHCenter);
    subtitle = new StatusLabel(QStringLiteral("secondary"), card);
    subtitle->setObjectName(QStringLiteral("subtitleLabel"));
    subtitle->setSizeStep(-1);
    subtitle->setAlignment(Qt::AlignHCenter);
    subtitle->setFixedWidth(320);
    heading->addWidget(title, 0, Qt::AlignHCenter);
    heading->addLayout(Parts::centred(subtitle));
    stack->addLayout(heading);

    notice = new SymbolNote(QStringLiteral("info.circle"), QStringLiteral("accent"), card);
    notice->setObjectName(QStringLiteral("noticeLine"));
    notice->setFixedWidth(fieldWidth);
    stack->addLayout(Parts::centred(notice));

    auto* fieldStack = new QVBoxLayout;
    fieldStack->setSpacing(10);
    addField(LoginForm::Field::displayName, "displayNameField", fieldStack);
    addField(LoginForm::Field::username, "usernameField", fieldStack);
    addField(LoginForm::Field::password, "passwordField", fieldStack)->setEchoMode(QLineEdit::Password);
    addField(LoginForm::Field::invite, "inviteField", fieldStack);
    stack->addLayout(fieldStack);

    error = new SymbolNote(QStringLiteral("exclamationmark.circle"), QStringLiteral("red"), card);
    error->setObjectName(QStringLiteral("errorLine"));
    error->setFixedWidth(fieldWidth);
    stack->addLayout(Parts::centred(error));

    // A disabled button alone does not say which field holds the registration back.
    missing = new SymbolNote(QStringLiteral("info.circle"), QStringLiteral("orange"), card);
    missing->setObjectName(QStringLiteral("missingLine"));
    missing->setFixedWidth(fieldWidth);
    stack->addLayout(Parts::centred(missing));

    submitButton = new BusyButton(QString(), card);
    submitButton->setObjectName(QStringLiteral("submitButton"));
    submitButton->makeProminent(260);
    submitButton->setDefault(true);
    connect(submitButton, &QPushButton::clicked, &form, &LoginForm::submit);
    stack->addWidget(submitButton, 0, Qt::AlignHCenter);

    auto* switchRow = new QHBoxLayout;
    switchRow->setSpacing(4);
    switchPrompt = new StatusLabel(QStringLiteral("secondary"), card);
    switchPrompt->setWordWrap(false);
    switchPrompt->setSizeStep(-1);
    switchButton = new LinkButton(QString(), card);
    switchButton->setObjectName(QStringLiteral("switchModeButton"));
    connect(switchButton, &QPushButton::clicked, &form, &LoginForm::switchMode);
    switchRow->addStretch();
    switchRow->addWidget(switchPrompt);
    switchRow->addWidget(switchButton);
    switchRow->addStretch();
    stack->addLayout(switchRow);

    auto* footnote = new StatusLabel(QStringLiteral("tertiary"), card);
    footnote->setObjectName(QStringLiteral("footnoteLabel"));
    footnote->setSizeStep(-2);
    footnote->setWordWrap(false);
    footnote->setAlignment(Qt::AlignHCenter);
    footnote->setText(LoginForm::footnote(QXServer::defaultURL().host()));
    stack->addWidget(footnote, 0, Qt::AlignHCenter);
    stack->addStretch(1);

    connect(&form, &LoginForm::changed, this, &LoginCard::scheduleRefresh);
    connect(&form, &LoginForm::focusRequested, this, [this](LoginForm::Field which) {
        pendingFocus = which;
        scheduleRefresh();
    });
    connect(&account, &Account::changed, this, &LoginCard::scheduleRefresh);
    refresh();
}

QLineEdit* LoginCard::addField(LoginForm::Field which, const char* name, QLayout* layout)
{
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setFixedWidth(fieldWidth);
    edit->setMinimumHeight(edit->sizeHint().height() + 4);
    edit->installEventFilter(this);
    fields.insert(which, edit);
    layout->addWidget(edit);
    layout->setAlignment(edit, Qt::AlignHCenter);
    connect(edit, &QLineEdit::textEdited, this, [this, which](const QString& text) {
        switch (which) {
        case LoginForm::Field::displayName: form.setDisplayName(text); break;
        case LoginForm::Field::username: form.setUsername(text); break;
        case LoginForm::Field::password: form.setPassword(text); break;
        case LoginForm::Field::invite: form.setInvite(text); break;
        }
    });
    connect(edit, &QLineEdit::returnPressed, this, [this, which] { form.returnPressed(which); });
    return edit;
}

bool LoginCard::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        for (auto it = fields.cbegin(); it != fields.cend(); ++it)
            if (it.value() == watched)
                form.noteFocus(it.key());
    }
    return GradientBackground::eventFilter(watched, event);
}

void LoginCard::showEvent(QShowEvent* event)
{
    GradientBackground::showEvent(event);
    if (!event->spontaneous())
        form.appear();
}

void LoginCard::keyPressEvent(QKeyEvent* event)
{
    // Return in a text field has already run that field's action; anywhere else it is the default button.
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (isReturn && !qobject_cast<QLineEdit*>(focusWidget())) {
        form.submit();
        return;
    }
    GradientBackground::keyPressEvent(event);
}

void LoginCard::scheduleRefresh()
{
    if (refreshQueued)
        return;
    refreshQueued = true;
    QTimer::singleShot(0, this, &LoginCard::refresh);
}

void LoginCard::refresh()
{
    refreshQueued = false;
    const LoginCardTexts texts = form.texts();
    title->setText(texts.title);
    subtitle->setText(Parts::wrapOnlyAtBlanks(texts.subtitle));

    const std::optional<QString>& accountNotice = account.notice();
    notice->setVisible(form.showsNotice(accountNotice));
    notice->setText(accountNotice.value_or(QString()));

    const QHash<LoginForm::Field, std::pair<QString, QString>> contents{
        {LoginForm::Field::displayName, {form.displayName(), texts.displayNamePlaceholder}},
        {LoginForm::Field::username, {form.username(), texts.usernamePlaceholder}},
        {LoginForm::Field::password, {form.password(), texts.passwordPlaceholder}},
        {LoginForm::Field::invite, {form.invite(), texts.invitePlaceholder}},
    };
    for (auto it = contents.cbegin(); it != contents.cend(); ++it) {
        QLineEdit* edit = fields.value(it.key());
        const auto& [text, placeholder] = it.value();
        if (edit->text() != text)
            edit->setText(text);
        edit->setPlaceholderText(placeholder);
        edit->setVisible(!placeholder.isEmpty());
        edit->setEnabled(!form.busy());
    }

    error->setVisible(form.error().has_value());
    error->setText(form.error().value_or(QString()));
    const std::optional<QString> notYet = form.registrationMissing();
    // While registering, the hint keeps its place (two lines) as it comes and goes: the fields below the
    // pointer stay where they are while the user types.
    QSizePolicy keep = missing->sizePolicy();
    keep.setRetainSizeWhenHidden(form.registering());
    missing->setSizePolicy(keep);
    missing->setMinimumHeight(form.registering() ? 2 * missing->label()->fontMetrics().lineSpacing() : 0);
    missing->setVisible(notYet.has_value());
    missing->setText(notYet.value_or(QString()));

    submitButton->setText(texts.submit);
    submitButton->setEnabled(form.canSubmit());
    submitButton->setBusy(form.busy());
    switchPrompt->setText(texts.switchPrompt);
    switchButton->setText(texts.switchAction);

    if (pendingFocus) {
        // Not into a card that has left the window: the focus would stay out of sight, taking Return.
        if (QLineEdit* edit = fields.value(*pendingFocus); edit && edit->isVisible() && edit->isEnabled())
            edit->setFocus(Qt::OtherFocusReason);
        pendingFocus.reset();
    }
}
