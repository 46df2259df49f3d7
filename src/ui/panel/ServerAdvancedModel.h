#pragma once

#include "state/Outcome.h"
#include "state/Server.h"

#include <QString>
#include <QStringList>
#include <optional>

// Texts and validation of the advanced server sheet: pure functions of the stored server and what the
// user typed, tested without a display.
class ServerAdvancedModel {
public:
    // Which server-side operation waits for the user's password.
    enum class PasswordAction { rules, revoke };

    // The editable fields as typed.
    struct Fields {
        QString name;
        QString user;
        QString port = QStringLiteral("22");
        QString proxyJump;
        QString remoteDir;
        QString keywords;
        bool smartOnly = false;
        bool operator==(const Fields&) const = default;
    };

    static Fields load(const Server& server);
    // The stored server with the edits applied, or the one message of the first check that fails, in the
    // order port, login name, jump host, remote folder. The jump host is kept in its canonical form.
    static Outcome<Server> edited(const Server& stored, const Fields& fields);
    // Split at commas (also fullwidth) and line breaks, trimmed of blanks, empty pieces dropped.
    static QStringList keywords(const QString& text);

    static QString title(const std::optional<Server>& stored);
    // Rule blocks and revoking act on the server: only for a listed server whose key is installed.
    static bool canRunOnServer(const std::optional<Server>& stored);
    static QString passwordTitle(PasswordAction action);
    // The block the rules would write; the default folder once the server is gone.
    static QString rulePreview(const std::optional<Server>& stored);
    // install.sh as it would run on the server; without a key yet, the placeholder note.
    static QString installScript(const Server& stored, const std::optional<QString>& publicLine,
        const QString& machineName);
};
