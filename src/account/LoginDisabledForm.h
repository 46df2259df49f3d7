#pragma once

#include <QObject>
#include <optional>

class Account;

// The disabled-account card without widgets: the re-check with its busy flag and result line, and the
// card's texts.
class LoginDisabledForm : public QObject {
    Q_OBJECT
public:
    explicit LoginDisabledForm(Account& account, QObject* parent = nullptr);

    bool checking() const { return busy; }
    const std::optional<QString>& result() const { return resultText; }

    // A user-initiated check-in; its answer replaces the result line (no answer clears it).
    void recheck();
    // Back to the start values (the card is shown afresh).
    void reset();

    QString explanation() const; // names Account::disabledUsername()
    static QString explanationFor(const QString& username);
    static QString title() { return QStringLiteral("你的账号已停用"); }
    static QString recheckLabel() { return QStringLiteral("再检查一次"); }
    static QString switchAccountLabel() { return QStringLiteral("换个账号登录"); }
    static QString quitLabel() { return QStringLiteral("退出 tarnel"); }
    static QString footnote(const QString& serviceHost) { return QStringLiteral("反馈或申诉：") + serviceHost; }

Q_SIGNALS:
    void changed();

private:
    Account& account;
    bool busy = false;
    int rounds = 0;
    std::optional<QString> resultText;
};
