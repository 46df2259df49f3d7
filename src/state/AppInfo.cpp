#include "state/AppInfo.h"

#include "state/Json.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

qint64 AppInfo::buildNumber() const
{
    bool ok = false;
    const qint64 n = build.trimmed() == build ? build.toLongLong(&ok, 10) : 0;
    return ok ? n : 0;
}

bool AppInfo::runsAsBundle() const
{
    return !bundlePath.isEmpty() && identifier == QLatin1String("com.tarnel.app");
}

bool AppInfo::launchedByAgent() { return qEnvironmentVariable("TARNEL_LAUNCHD_AGENT") == QLatin1String("1"); }

bool AppInfo::showMainForced() { return qEnvironmentVariable("TARNEL_SHOW_MAIN") == QLatin1String("1"); }

AppInfo AppInfo::fromBundle(const QString& bundleDir)
{
    AppInfo info;
    const QString dir = QDir::cleanPath(QDir(bundleDir).absolutePath());
    if (QFileInfo(dir).fileName() != QLatin1String("tarnel.app"))
        return info;
    QFile file(dir + QStringLiteral("/info.json"));
    if (!file.open(QIODevice::ReadOnly))
        return info;
    try {
        const QJsonObject o = Json::decodeObject(file.readAll());
        info.identifier = Json::string(o, QStringLiteral("identifier"));
        info.version = Json::string(o, QStringLiteral("version"), info.version);
        info.build = Json::string(o, QStringLiteral("build"), info.build);
        info.bundlePath = dir;
    } catch (const JsonError&) {
    }
    return info;
}

AppInfo AppInfo::forExecutable(const QString& executablePath)
{
    return fromBundle(QFileInfo(executablePath).absoluteDir().absoluteFilePath(QStringLiteral("..")));
}

const AppInfo& AppInfo::current()
{
    // The kernel's link names the real file, also before any application object exists.
    static const AppInfo info = forExecutable(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget());
    return info;
}
