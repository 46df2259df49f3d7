#pragma once

#include <QString>

// The one check for a remote directory typed by the user or reported by a server. It goes into shell
// scripts and is purged on removal, so it must be plain and can never name a home or the root itself.
class RemoteDir {
public:
    static QString problemText() { return QStringLiteral("远程目录只能是 ~/xxx 这种简单路径"); }

    // "~/a/b" or "/a/b": at least one component after the prefix, no ".", ".." or ".ssh" component, no empty
    // component (one trailing "/" aside), only [A-Za-z0-9._/-]; not a system folder ("/home", "/etc", …)
    // nor a home itself ("/home/alice").
    static bool isValid(const QString& dir);

    // A base the install script reported: absolute, [A-Za-z0-9._/@+-] only, no "." or ".." component, not
    // "/" itself. It is later typed into terminals, so nothing else may pass.
    static bool isValidAbsolute(const QString& dir);
};
