#include "account/LoginDisabledForm.h"

#include "account/Account.h"

LoginDisabledForm::LoginDisabledForm(Account& account, QObject* parent) : QObject(parent), account(account)
{
    connect(&account, &Account::changed, this, &LoginDisabledForm::changed);
}

void LoginDisabledForm::recheck()
{
    if (busy)
        return;
    busy = true;
    Q_EMIT changed();
    const int round = ++rounds;
    account.ping(true).then(this, [this, round](const std::optional<QString>& answer) {
        if (round != rounds)
            return; // the card was shown afresh meanwhile
        resultText = answer;
        busy = false;
        Q_EMIT changed();
    });
}

void LoginDisabledForm::reset()
{
    ++rounds;
    busy = false;
    resultText.reset();
    Q_EMIT changed();
}

QString LoginDisabledForm::explanation() const { return explanationFor(account.disabledUsername()); }

QString LoginDisabledForm::explanationFor(const QString& username)
{
    return QStringLiteral("管理员停用了账号「") + username
        + QStringLiteral("」。tarnel 已暂停：不再监听截图、不再上传，快捷键也停了。\n"
                         "请联系管理员；重新启用后，点下面「再检查一次」或等 tarnel 自己下次检查（最晚 6 小时）就会恢复。");
}
