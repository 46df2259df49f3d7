#pragma once

#include "servers/ServerRegistry.h"
#include "state/Server.h"

#include <QDateTime>
#include <QString>
#include <optional>

// Texts, colour roles and rules of one server card and its status dot: pure functions of the destination
// and its status, tested without a display.
class ServerCardModel {
public:
    using Status = ServerRegistry::Status;

    struct Line {
        QString text;
        QString role;
        bool operator==(const Line&) const = default;
    };
    struct Dot {
        QString role;
        bool glow = false;
        bool pulse = false;
        bool operator==(const Dot&) const = default;
    };
    struct Border {
        QString role;
        double opacity = 1.0;
        double width = 1.0;
        bool operator==(const Border&) const = default;
    };

    // The line under the title; `doneToday` is the number of today's shots already on this destination.
    static Line statusLine(const Server& server, const Status& status, int doneToday, const QDateTime& now);
    static Dot dot(const Status& status);
    static Border border(const Status& status, bool highlighted);
    // ":2222" after the name; empty on port 22.
    static QString portSuffix(const Server& server);
    // The remote host name beside the title when it says more than the address.
    static std::optional<QString> hostnameBeside(const Server& server, const Status& status);
    static bool showsSync(const Server& server, const Status& status);
    // A failed connection that a login name or password from the user could mend.
    static bool showsCredentials(const Status& status);

    // The login name as typed, without spaces and tabs around it.
    static QString loginName(const QString& typed);
    static bool canLogIn(const QString& typed) { return !loginName(typed).isEmpty(); }
    // Why the typed login name is refused (the form's note), or none.
    static std::optional<QString> loginNameProblem(const QString& typed);

    // What a linked machine runs when it is connected (rendered anew on every call), or a note that the
    // scripts inside the program could not be used.
    static QString deviceScript(const Server& server);
    static QString deviceScriptTitle(const Server& server);
};
