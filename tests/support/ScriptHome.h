#pragma once

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

    QString path() const { return dir.path(); }
    QString file(const QString& relative) const { return dir.filePath(relative); }
    Run run(const QString& script) const;

    // Writes a file under the home (folders made as needed).
    void write(const QString& relative, const QByteArray& bytes) const;

private:
    QTemporaryDir dir;
};
