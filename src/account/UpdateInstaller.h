#pragma once

#include "state/Outcome.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class KeepAliveAgent;

// The last step of an update: where the new version goes, the keep-alive unit taken out of the way, and
// install-update.sh started apart from tarnel. The script waits for tarnel to quit, swaps the bundle
// (putting the old copy back on failure; when plain rights do not do, pkexec runs the installed bundle's
// own root-owned tarnel-update-root, which checks and installs a copy of its own), and reopens it;
// everything it does goes to install.log.
class UpdateInstaller {
public:
    // `runningBundle`: the tarnel.app folder this process runs from (empty when it runs from none).
    UpdateInstaller(KeepAliveAgent& agent, QString runningBundle);

    // Starts a program apart from tarnel; false when it could not start. Tests replace it.
    std::function<bool(const QString& program, const QStringList& args)> startDetached;
    // The text of /proc/self/cgroup; tests replace it.
    std::function<QString()> cgroup;

    // The running bundle, or ~/.local/opt/tarnel.app when it runs from a removable or read-only mount.
    QString target() const;
    static QString targetFor(const QString& runningBundle, bool readOnly, const QString& home);

    // Everything up to the script running on its own; an error text when it could not be started (the
    // keep-alive unit is then enabled again).
    std::optional<QString> launch(const QString& source, const QString& target, qint64 pid);

    // install-update.sh, written anew into the folder (0700); its path or an error text.
    static Outcome<QString> writeScript(const QString& updatesDir);
    static QString scriptText();
    // True when the cgroup names a service of the user's systemd: its stop would end the script too.
    static bool insideUserService(const QString& cgroupText);
    // The program and arguments that start the script detached.
    static QStringList command(const QString& script, qint64 pid, const QString& source, const QString& target,
                               const QString& log, bool throughSystemd);

private:
    KeepAliveAgent& agent;
    QString runningBundle;
};
