#include "delivery/SSHSession.h"

QString SSHSession::address() const { return formatAddress(user, host, port); }

QString SSHSession::formatAddress(const std::optional<QString>& user, const QString& host, std::optional<int> port)
{
    QString text;
    if (user && !user->isEmpty())
        text = *user + QLatin1Char('@');
    const bool withPort = port && *port != 22;
    if (withPort && host.contains(QLatin1Char(':')))
        text += QLatin1Char('[') + host + QLatin1Char(']');
    else
        text += host;
    if (withPort)
        text += QLatin1Char(':') + QString::number(*port);
    return text;
}
