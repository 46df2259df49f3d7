#pragma once

#include <QString>
#include <optional>

// An address as the user types it: "user@host", "host:port", "[v6]:port", "ssh://…" or "ssh -p N -l user host".
struct ServerAddress {
    std::optional<QString> user;
    QString host;
    std::optional<int> port;

    // Why a text is not an address. Thrown by parse and validateUser.
    struct ParseError {
        enum class Kind { empty, badUser, badHost, badPort };
        Kind kind;
        QString detail;

        QString errorDescription() const;
    };

    // Trims blanks and line breaks first. Throws ParseError.
    static ServerAddress parse(const QString& text);
    // 1-64 characters of [A-Za-z0-9._-], not beginning with "-". Throws ParseError (badUser).
    static void validateUser(const QString& user);
    // A host name, an IPv4 address or an IPv6 address (bare). Throws ParseError (badHost).
    static void validateHost(const QString& host);

    // "[user@]host[:port]" with brackets around an IPv6 host that carries a port; port 22 left out.
    QString canonical() const;

    bool operator==(const ServerAddress&) const = default;
};
