#pragma once

#include <QMap>
#include <QString>
#include <QTemporaryDir>

// A throw-away home folder in which a rendered server script runs under the system's sh, as it would on
// a server after login.
class ScriptHome {
public:
    struct Run {
        int status = -1;
        QString out;
        QString err;
    };
    using Environment = QMap<QString, QString>;

    QString path() const { return dir.path(); }
    QString file(const QString& relative) const { return dir.filePath(relative); }
    // The script on sh's standard input; `env` adds to (or, for HOME, replaces) the environment.
    Run run(const QString& script, const Environment& env = {}) const;
    // A command line run by sh -c in the home, with `input` on its standard input.
    Run shell(const QString& command, const QByteArray& input = {}) const;

    // Writes a file under the home (folders made as needed).
    void write(const QString& relative, const QByteArray& bytes) const;
    // Puts the bundled receiver at <base>/bin/tarnel-receiver under the home.
    void installReceiver(const QString& base) const;

private:
    Run exec(const QStringList& arguments, const QByteArray& input, const Environment& env) const;

    QTemporaryDir dir;
};
