#pragma once

#include "state/Outcome.h"

#include <QString>
#include <optional>

// An address as the user types it: "user@host", "host:port", "[v6]:port", "ssh://…" or "ssh -p N -l user host".
struct ServerAddress {
    std::optional<QString> user;
    QString host;
    std::optional<int> port;

    // Trims blanks and line breaks first; the failure says what is wrong with the text.
    static Outcome<ServerAddress> parse(const QString& text);
    // 1-64 characters of [A-Za-z0-9._-], not beginning with "-".
    static Outcome<> checkUser(const QString& user);

    // "[user@]host[:port]" with brackets around an IPv6 host that carries a port; port 22 left out.
    QString canonical() const;

    bool operator==(const ServerAddress&) const = default;
};
