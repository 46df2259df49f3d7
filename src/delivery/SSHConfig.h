#pragma once

#include "state/Outcome.h"

#include "state/Server.h"

#include <QList>
#include <QString>
#include <optional>

// The generated ssh_config: one Host block per destination, all with tarnel's own key, its own
// known_hosts and shared connections. Every value is checked before it is written; a destination with
// an unsafe value gets no block (and a log line) instead of breaking the file for all the others.
class SSHConfig {
public:
    struct Context {
        QString dataDirectory;
        QString controlDirectory;
        std::optional<QString> netBinary;
    };
    struct Rendered {
        QString text;
        QStringList skipped; // one log line per destination left out
    };

    static Context currentContext();
    static QString path(); // <data>/ssh_config

    static Rendered render(const QList<Server>& servers, const Context& context);
    // Renders for the current data directory and replaces the file (0600).
    static Outcome<> write(const QList<Server>& servers);

    // The host name ssh reports it could not resolve in its error output; `fallback` when it names none.
    static QString unresolvedHost(const QString& stderr, const QString& fallback);
    // The Host name a destination is reached by: "tarnel-<id>" for a server, the alias for a device.
    static QString alias(const Server& server);
    // The socket of a destination's shared connection: a name of its own for every way of reaching it, so
    // a changed address, port, login or jump host never rides on a connection made for the old one.
    static QString controlSocket(const Server& server, const QString& controlDirectory);
    // Whether a destination gets a block; the failure says why not.
    static Outcome<> check(const Server& server, const Context& context);

    // The options of a linked machine's Host block ("Key value" each), for an ssh run that must not depend
    // on any generated file; none when the destination or a path cannot be used.
    static std::optional<QStringList> deviceOptions(const Server& server, const Context& context);

    // "[user@]host[:port]" in canonical form (port only when not 22, IPv6 in brackets when a port
    // follows), or none when the text is anything else.
    static std::optional<QString> canonicalJump(const QString& text);

    static bool isValidHost(const QString& host);
    static bool isValidUser(const QString& user);
    static bool isValidDeviceAlias(const QString& alias);
    static bool isValidDeviceID(const QString& id);
    // A linked machine's login name: a plain local account name.
    static bool isValidDeviceUser(const QString& user);

    // An absolute path between double quotes for an ssh configuration, with % doubled; `suffix` is appended
    // as it is. None when the path is relative or holds a character sh or ssh would interpret.
    static std::optional<QString> quotedPath(const QString& path, const QString& suffix = {});
};
