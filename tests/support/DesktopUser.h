#pragma once

#include "support/SshServerFixture.h"

#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <optional>
#include <sys/types.h>

class QProcess;

// A local desktop user for the client side of ssh tests that rely on "the user's own ssh setup": ssh
// reads ~/.ssh from the home in the password database, so the test runs its client code as this user
// (see AsUser) instead of editing root's ~/.ssh. Root only; the account goes with the sshd fixture.
class DesktopUser {
public:
    static std::optional<DesktopUser> create(SshServerFixture& sshd, const QString& name);

    const SshServerFixture::Account& account() const { return user; }
    // ~/.ssh/id_ed25519.pub of the user.
    QString publicLine() const { return publicKey; }
    bool writeSshConfig(const QString& text) const;
    // chown -R of a folder (the test's data directory) to the user.
    bool own(const QString& path) const;

    // Starts `process` as the user in a desktop session of its own: PATH, HOME, USER, a C.UTF-8 locale,
    // this display with ~/.Xauthority when there is one, XDG_RUNTIME_DIR = ~/run; then `extra`.
    void enterSession(QProcess& process, const QProcessEnvironment& extra) const;
    // The user's live processes (it runs nothing the test did not start).
    QList<pid_t> processes() const;
    // SIGKILL to every process of the user; true when none is left.
    bool stopEverything() const;

    // Runs the process as the user for its lifetime (real and effective ids; root stays the saved id so
    // the guard can switch back).
    class AsUser {
    public:
        explicit AsUser(const DesktopUser& user);
        ~AsUser();
        AsUser(const AsUser&) = delete;
        AsUser& operator=(const AsUser&) = delete;
        bool ok() const { return switched; }

    private:
        bool switched = false;
    };

private:
    SshServerFixture::Account user;
    QString publicKey;
};
