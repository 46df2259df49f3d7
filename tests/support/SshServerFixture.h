#pragma once

#include "support/FileLock.h"

#include <QMap>
#include <QString>
#include <QTemporaryDir>
#include <map>
#include <memory>
#include <optional>
#include <sys/types.h>

// A real sshd on a free loopback port with its own host key and configuration, for tests that need an
// ssh server. Logins use keys listed per account in the fixture's own authorized-keys files (see
// authorize); password logins work for accounts given a password. Everything stops with the fixture.
class SshServerFixture {
public:
    struct Account {
        QString name;
        QString home;
        uid_t uid = 0;
        gid_t gid = 0;
    };

    SshServerFixture();
    ~SshServerFixture();
    SshServerFixture(const SshServerFixture&) = delete;
    SshServerFixture& operator=(const SshServerFixture&) = delete;

    // Also accept keys from the account's own ~/.ssh/authorized_keys, as a real server does (for tests of
    // scripts that install keys there); applied at the next start.
    void acceptHomeKeys() { homeKeys = true; }
    // Extra sshd_config lines, applied at the next start.
    void setExtraConfig(const QString& lines) { extra = lines; }

    // Starts sshd (again on the same port after a stop); an error text, or none.
    std::optional<QString> start();
    // Stops the listener and every connection it serves.
    void stop();
    bool running() const { return pid > 0; }

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return listenPort; }
    // "[127.0.0.1]:<port> ssh-ed25519 AAAA…", ready for a known_hosts file.
    QString knownHostsLine() const;
    // The server's public host key file ("ssh-ed25519 AAAA… comment").
    QString hostKeyPublicPath() const;
    // A fresh host key, used from the next start: clients that knew the old one must refuse.
    void replaceHostKey();
    QString log() const;

    // True when accounts of their own can be made (root).
    static bool canCreateAccounts();
    // A login account: as root a fresh local user (one left by an earlier run is recreated) named `name`
    // plus a tag of this checkout, so test runs of two checkouts on one machine never share a user;
    // otherwise the current user, with a private folder of the fixture as its home for test files.
    std::optional<Account> account(const QString& name);
    // Replaces the account's authorized keys.
    bool authorize(const Account& account, const QString& authorizedKeys);
    // Gives the account a password (root only).
    bool setPassword(const Account& account, const QString& password);
    // mkdir -p owned by the account, mode 0700.
    bool makeDirectory(const Account& account, const QString& path);
    // Writes a file owned by the account.
    bool writeFile(const Account& account, const QString& path, const QByteArray& bytes, int mode);

private:
    bool makeHostKey();
    void removeAccounts();

    QTemporaryDir dir;
    QString extra;
    bool homeKeys = false;
    quint16 listenPort = 0;
    pid_t pid = -1;
    QStringList createdAccounts;
    std::map<QString, std::unique_ptr<FileLock>> accountLocks; // name -> the machine-wide lock on that name
};
