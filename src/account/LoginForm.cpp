#include "account/LoginForm.h"

#include "account/LoginMemory.h"
#include "account/LoginModel.h"
#include "account/QXServer.h"
#include "delivery/HotkeySpec.h"
#include "state/Text.h"

#include <QTextBoundaryFinder>

LoginForm::LoginForm(LoginModel& model, Submit submit, QObject* parent)
    : QObject(parent), model(model), submitRequest(std::move(submit))
{
    connect(&model, &LoginModel::registeringChanged, this, &LoginForm::changed);
}

bool LoginForm::registering() const { return model.registering(); }

void LoginForm::setText(QString& member, const QString& text)
{
    if (member == text)
        return;
    member = text;
    Q_EMIT changed();
}

void LoginForm::setUsername(const QString& text) { setText(user, text); }
void LoginForm::setPassword(const QString& text) { setText(secret, text); }
void LoginForm::setDisplayName(const QString& text) { setText(name, text); }
void LoginForm::setInvite(const QString& text) { setText(code, text); }
void LoginForm::noteFocus(Field field) { focus = field; }

int LoginForm::perceivedLength(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

bool LoginForm::canSubmit() const
{
    if (working || user.isEmpty() || secret.isEmpty())
        return false;
    if (!registering())
        return true;
    return !trimBlanks(name).isEmpty() && !code.isEmpty() && perceivedLength(secret) >= 6;
}

std::optional<QString> LoginForm::registrationMissing() const
{
    if (!registering() || working || canSubmit() || (name.isEmpty() && user.isEmpty() && secret.isEmpty() && code.isEmpty()))
        return std::nullopt;
    QStringList empty;
    if (trimBlanks(name).isEmpty())
        empty << QStringLiteral("你的名字");
    if (user.isEmpty())
        empty << QStringLiteral("账号");
    if (secret.isEmpty())
        empty << QStringLiteral("密码");
    if (code.isEmpty())
        empty << QStringLiteral("邀请码");
    QStringList problems;
    if (const int length = perceivedLength(secret); length > 0 && length < 6)
        problems << QStringLiteral("密码至少 6 位，现在只有 %1 位").arg(length);
    if (!empty.isEmpty())
        problems << QStringLiteral("还要填：") + empty.join(QStringLiteral("、"));
    return problems.join(QStringLiteral("；"));
}

void LoginForm::submit()
{
    if (!canSubmit())
        return;
    working = true;
    errorText.reset();
    Q_EMIT changed();
    // Sent as typed: the account layer trims what it sends.
    const LoginRequest request = registering() ? LoginRequest{true, user, secret, name, code}
                                               : LoginRequest{false, user, secret, {}, {}};
    submitRequest(request).then(this, [this](const Outcome<>& outcome) {
        working = false;
        if (!outcome.ok()) {
            errorText = outcome.failure();
            secret.clear();
            Q_EMIT changed();
            moveFocus(Field::password);
            return;
        }
        LoginMemory::setLastUsername(trimBlanks(user));
        Q_EMIT changed();
    });
}

void LoginForm::returnPressed(Field field)
{
    switch (field) {
    case Field::displayName:
        moveFocus(Field::username);
        return;
    case Field::username:
        moveFocus(Field::password);
        return;
    case Field::password:
        if (registering())
            moveFocus(Field::invite);
        else
            submit();
        return;
    case Field::invite:
        submit();
        return;
    }
}

void LoginForm::switchMode()
{
    model.setRegistering(!model.registering());
    errorText.reset();
    Q_EMIT changed();
    moveFocus(registering() ? Field::displayName : Field::username);
}

void LoginForm::appear()
{
    if (user.isEmpty()) {
        if (auto remembered = LoginMemory::lastUsername()) {
            user = *remembered;
            Q_EMIT changed();
        }
    }
    if (registering())
        moveFocus(Field::displayName);
    else
        moveFocus(user.isEmpty() ? Field::username : Field::password);
}

void LoginForm::reset()
{
    user.clear();
    secret.clear();
    name.clear();
    code.clear();
    errorText.reset();
    working = false;
    focus.reset();
    Q_EMIT changed();
}

void LoginForm::moveFocus(Field field)
{
    focus = field;
    Q_EMIT focusRequested(field);
}

bool LoginForm::showsNotice(const std::optional<QString>& notice) const { return notice && !registering(); }

LoginCardTexts LoginForm::textsFor(bool registering)
{
    if (registering)
        return {QStringLiteral("注册 tarnel 账号"),
                QStringLiteral("填上管理员给你的邀请码，注册完直接能用"),
                QStringLiteral("你的名字（比如：qx）"),
                QStringLiteral("账号（字母或数字，比如 qx）"),
                QStringLiteral("密码（至少 6 位）"),
                QStringLiteral("邀请码"),
                QStringLiteral("注册并登录"),
                QStringLiteral("已经有账号了？"),
                QStringLiteral("去登录")};
    return {QStringLiteral("登录 tarnel"),
            QStringLiteral("截图 Ctrl+C → 传到你的服务器 → 终端里 %1 粘路径给 AI")
                .arg(HotkeySpec::parseOr(QString(), QStringLiteral("⌥⌘3")).desktopText()),
            {},
            QStringLiteral("账号"),
            QStringLiteral("密码"),
            {},
            QStringLiteral("登录"),
            QStringLiteral("还没有账号？"),
            QStringLiteral("用邀请码注册")};
}

QString LoginForm::footnote(const QString& serviceHost)
{
    return QStringLiteral("忘记密码请找管理员重置 · ") + serviceHost;
}
