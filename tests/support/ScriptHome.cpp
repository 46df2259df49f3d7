#include "support/ScriptHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

ScriptHome::Run ScriptHome::exec(const QStringList& arguments, const QByteArray& input, const Environment& env) const
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), dir.path());
    for (auto it = env.begin(); it != env.end(); ++it)
        environment.insert(it.key(), it.value());
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(dir.path());
    process.start(QStringLiteral("/bin/sh"), arguments);
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(30000);
    Run result;
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

ScriptHome::Run ScriptHome::run(const QString& script, const Environment& env) const
{
    return exec({QStringLiteral("-s")}, script.toUtf8(), env);
}

ScriptHome::Run ScriptHome::shell(const QString& command, const QByteArray& input) const
{
    return exec({QStringLiteral("-c"), command}, input, {});
}

void ScriptHome::write(const QString& relative, const QByteArray& bytes) const
{
    const QString path = dir.filePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

void ScriptHome::installReceiver(const QString& base) const
{
    QFile bundled(QStringLiteral(":/bundled/tarnel-receiver"));
    if (bundled.open(QIODevice::ReadOnly))
        write(base + QStringLiteral("/bin/tarnel-receiver"), bundled.readAll());
    QDir().mkpath(file(base + QStringLiteral("/shots")));
}
