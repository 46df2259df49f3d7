#pragma once

#include "state/Outcome.h"

#include <QFuture>
#include <QObject>
#include <functional>
#include <optional>

class LoginModel;

// What a submission of the login card asks the account for.
struct LoginRequest {
    bool registering = false;
    QString username;
    QString password;
    QString displayName; // registration only
    QString invite;      // registration only
    bool operator==(const LoginRequest&) const = default;
};

// The texts of the login card in one mode.
struct LoginCardTexts {
    QString title;
    QString subtitle;
    QString displayNamePlaceholder; // empty: the field is absent
    QString usernamePlaceholder;
    QString passwordPlaceholder;
    QString invitePlaceholder; // empty: the field is absent
    QString submit;
    QString switchPrompt;
    QString switchAction;
};

// The login/registration card without widgets: its fields, busy flag, error line and focus, the rules for
// submitting and the Return chain. The widget mirrors it and forwards edits and key presses.
class LoginForm : public QObject {
    Q_OBJECT
public:
    enum class Field { displayName, username, password, invite };
    // Answers nothing on success, else the failure text to show.
    using Submit = std::function<QFuture<Outcome<>>(const LoginRequest&)>;

    LoginForm(LoginModel& model, Submit submit, QObject* parent = nullptr);

    bool registering() const;
    const QString& username() const { return user; }
    const QString& password() const { return secret; }
    const QString& displayName() const { return name; }
    const QString& invite() const { return code; }
    const std::optional<QString>& error() const { return errorText; }
    bool busy() const { return working; }
    std::optional<Field> focused() const { return focus; }

    void setUsername(const QString& text);
    void setPassword(const QString& text);
    void setDisplayName(const QString& text);
    void setInvite(const QString& text);
    // The field the user put the focus in.
    void noteFocus(Field field);

    bool canSubmit() const;
    // Why a registration cannot be sent yet, once something is typed; none when it can, before anything
    // is typed, in sign-in mode (whose fields only must not be empty) and while busy.
    std::optional<QString> registrationMissing() const;
    void submit();
    void returnPressed(Field field);
    void switchMode();
    // The card was put in the window: fill the remembered name into an empty user-name field, then focus.
    void appear();
    // Back to the start values (a card that returns after the disabled card starts afresh).
    void reset();

    // The account's notice shows only in sign-in mode.
    bool showsNotice(const std::optional<QString>& notice) const;
    LoginCardTexts texts() const { return textsFor(registering()); }
    static LoginCardTexts textsFor(bool registering);
    static QString footnote(const QString& serviceHost);
    // Characters as a person counts them (an emoji with its modifiers is one).
    static int perceivedLength(const QString& text);

Q_SIGNALS:
    void changed();
    // The card should move the keyboard focus to this field.
    void focusRequested(LoginForm::Field field);

private:
    void moveFocus(Field field);
    void setText(QString& member, const QString& text);

    LoginModel& model;
    Submit submitRequest;
    QString user;
    QString secret;
    QString name;
    QString code;
    std::optional<QString> errorText;
    bool working = false;
    std::optional<Field> focus;
};
