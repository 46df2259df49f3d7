#pragma once

#include "ui/panel/PasswordPrompt.h"
#include "ui/panel/ScriptSheet.h"
#include "ui/panel/ServerAdvancedModel.h"

#include <QDialog>
#include <QHash>
#include <QPointer>
#include <QUuid>
#include <optional>

class AppState;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class StatusLabel;

// Edits one server beyond its address (name, login name, port, jump host, remote folder, keywords, smart
// mode; kept until "保存"), and acts on the server at once: AI-tool rule blocks and revoking this
// machine's key, asking for the login password when the key login is refused. Shows the install script
// and the rule text. Window-modal over the panel; Escape cancels, Return saves.
class ServerAdvancedSheet : public QDialog {
    Q_OBJECT
public:
    using PasswordAction = ServerAdvancedModel::PasswordAction;

    ServerAdvancedSheet(AppState& app, const QUuid& serverID, QWidget* parent);

    // Opens a sheet for the server over `over`'s window; it goes when closed.
    static ServerAdvancedSheet* openFor(AppState& app, const QUuid& serverID, QWidget* over);

    // Fills the fields from the stored server (runs each time the sheet is shown).
    void load();
    // Validates and stores the edits, then closes; a failure shows in the note and keeps the sheet open.
    void save();
    void applyRules(const std::optional<QString>& password);
    void revoke(const std::optional<QString>& password);
    void showRulePreview();
    void showInstallScript();

    ServerAdvancedModel::Fields fields() const;
    QString note() const;
    QCheckBox* ruleSwitch(const QString& key) const { return rules.value(key); }
    QPushButton* applyRulesButton() const { return applyButton; }
    QPushButton* revokeButton() const { return revokeKeyButton; }
    PasswordPrompt* passwordPrompt() const { return prompt; }
    ScriptSheet* scriptSheet() const { return script; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildForm();
    QWidget* buildRules();
    QWidget* buildServerButtons();
    void followRegistry();
    void setNote(const QString& text);
    // Writes a server-side answer into the note; a refused key login asks for the password.
    void answered(PasswordAction action, const Outcome<QString>& outcome);
    void askPassword(PasswordAction action);
    void passwordGiven(PasswordAction action, const std::optional<QString>& password);
    void showScript(const QString& text);

    AppState& app;
    const QUuid serverID;
    QLabel* heading;
    QLineEdit* name;
    QLineEdit* user;
    QLineEdit* port;
    QLineEdit* proxyJump;
    QLineEdit* remoteDir;
    QLineEdit* keywords;
    QCheckBox* smartOnly;
    QHash<QString, QCheckBox*> rules;
    QPushButton* applyButton;
    QPushButton* revokeKeyButton;
    StatusLabel* noteLine;
    std::optional<PasswordAction> passwordFor;
    QPointer<PasswordPrompt> prompt;
    QPointer<ScriptSheet> script;
};
