#include "support/ScriptHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

ScriptHome::Run ScriptHome::run(const QString& script) const
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), dir.path());
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir.path());
    process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-s")});
    process.write(script.toUtf8());
    process.closeWriteChannel();
    process.waitForFinished(30000);
    Run result;
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

void ScriptHome::write(const QString& relative, const QByteArray& bytes) const
{
    const QString path = dir.filePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}
