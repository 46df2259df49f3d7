#pragma once

#include <QString>
#include <QStringList>
#include <variant>

// The `serve` command line, options in any order, each followed by its value.
struct ServeOptions {
    QString state;
    QString server;
    QString fallbackServer;
    QString tokenFile;
    QString name;
    QString sshUser;
    QString pubkeyFile;
    QString hostkeyFile;
    QString appBuild;
    qint64 parentPid = 0;
    bool allowInbound = false;

    // The options after `serve`; an error text for a missing or unknown option.
    static std::variant<ServeOptions, QString> parse(const QStringList& args);
    // The build number the status document carries: the text as a whole number, 0 when it is none.
    qint64 appBuildNumber() const;
};
