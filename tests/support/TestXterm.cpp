#include "support/TestXterm.h"

#include "support/TempDataDir.h"
#include "support/WaitUntil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStandardPaths>

TestXterm::TestXterm(const QString& title) : title(title) {}

TestXterm::~TestXterm()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(3000);
    }
}

bool TestXterm::start()
{
    const QString output = dir.filePath(QStringLiteral("received"));
    const QString ready = dir.filePath(QStringLiteral("ready"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    // Raw mode: cat gets each byte without waiting for a line end; nothing is echoed.
    const QString script = QStringLiteral("stty raw -echo; : > '%1'; : > '%2'; exec cat > '%1'").arg(output, ready);
    process.start(QStringLiteral("xterm"), {QStringLiteral("-u8"), QStringLiteral("-T"), title,
                                            QStringLiteral("-geometry"), QStringLiteral("80x10+0+0"),
                                            QStringLiteral("-e"), QStringLiteral("sh"), QStringLiteral("-c"), script});
    if (!process.waitForStarted(5000))
        return false;
    waitUntil([&] { return QFile::exists(ready); }, 10000);
    QProcess search;
    search.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--sync"),
                                             QStringLiteral("--name"), QLatin1Char('^') + title + QLatin1Char('$')});
    if (!search.waitForFinished(10000) || search.exitCode() != 0)
        return false;
    window = search.readAllStandardOutput().split('\n').value(0).trimmed().toULongLong();
    return window != 0 && QFile::exists(ready) && activate();
}

bool TestXterm::activate()
{
    return xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(window)});
}

QByteArray TestXterm::received() const { return readFile(dir.filePath(QStringLiteral("received"))); }

QByteArray TestXterm::waitFor(qsizetype size, int timeoutMs) const
{
    QByteArray bytes;
    waitUntil([&] { return (bytes = received()).size() >= size; }, timeoutMs);
    return bytes;
}

bool xdotool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString xdotoolOutput(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    const bool ran = process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return ran ? QString::fromUtf8(process.readAllStandardOutput()).trimmed() : QString();
}

bool saveScreen(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    QProcess import;
    import.start(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), path});
    return import.waitForFinished(10000) && import.exitCode() == 0;
}

bool haveX11Tools(const QStringList& programs)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return false;
    for (const QString& program : programs)
        if (QStandardPaths::findExecutable(program).isEmpty())
            return false;
    return true;
}

bool onX11WithTools(const QStringList& programs)
{
    return haveX11Tools(programs) && QGuiApplication::platformName() == QLatin1String("xcb");
}
