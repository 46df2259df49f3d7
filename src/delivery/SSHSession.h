#pragma once

#include <QHash>
#include <QString>
#include <optional>

// One live ssh session of the user, as its command line names it.
struct SSHSession {
    std::optional<QString> user;
    QString host;
    std::optional<int> port;

    // [user@]host[:port]; an IPv6 host with a port is bracketed so it reads back unambiguously.
    QString address() const;
    // "[user@]host[:port]", the port only when not 22 and an IPv6 host in brackets then, so the address
    // parser reads it back.
    static QString formatAddress(const std::optional<QString>& user, const QString& host, std::optional<int> port);

    bool operator==(const SSHSession&) const = default;
};

inline size_t qHash(const SSHSession& s, size_t seed = 0)
{
    return qHashMulti(seed, s.user.value_or(QString()), s.user.has_value(), s.host, s.port.value_or(-1));
}
