#pragma once

#include <QString>
#include <QStringList>

struct Server;
#include <optional>

// The argument lists of tarnel's own ssh runs to a server, outside the generated ssh_config: the probe
// and the setup scripts by key (the user's own ssh setup applies) and the one-time password login.
// Every value is checked first; none means a value was unsafe. "--" always precedes the destination.
class SshCommand {
public:
    struct Target {
        QString host;
        int port = 22;
        QString user;
        std::optional<QString> proxyJump;
    };

    // The remote command that runs a script through the login shell, whatever shell that is: base64
    // carries no character any shell treats specially, and no line of the script meets the terminal.
    static QString scriptCommand(const QString& script);

    // BatchMode login with the user's own keys and agent, running `command`.
    static std::optional<QStringList> keyLogin(const Target& target, const QString& command);
    // Password-only login (for PasswordLogin), running `command`.
    static std::optional<QStringList> passwordLogin(const Target& target, const QString& command);
    // A linked machine, through the device ssh configuration.
    static std::optional<QStringList> deviceLogin(const QString& alias, const QString& command);
    // A linked machine over its own connection options (no configuration file): its entries may already
    // be gone from the generated files, as when its destination is being removed.
    static std::optional<QStringList> deviceCleanupLogin(const Server& server, const QString& command);
    // `ssh -G`: how the user's ssh setup resolves a host.
    static std::optional<QStringList> lookup(const QString& host, std::optional<int> port,
        const std::optional<QString>& user);

    // <data>/known_hosts, created empty (0600) when missing.
    static QString knownHostsFile();

private:
    static std::optional<QStringList> common(const Target& target);
};
