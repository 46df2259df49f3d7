#include "state/AppInfo.h"

#include "state/Json.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace {
AppInfo compiledIn()
{
    AppInfo info;
    info.identifier = TARNEL_RELEASE ? QStringLiteral("com.tarnel.app") : QStringLiteral("com.tarnel.app.dev");
    info.version = QStringLiteral(TARNEL_VERSION);
    info.build = QStringLiteral(TARNEL_BUILD);
    if (info.version.isEmpty())
        info.version = QStringLiteral("0.1.0-dev");
    if (info.build.isEmpty())
        info.build = QStringLiteral("0");
    return info;
}
} // namespace

qint64 AppInfo::buildNumber() const
{
    bool ok = false;
    const qint64 n = build.trimmed() == build ? build.toLongLong(&ok, 10) : 0;
    return ok ? n : 0;
}

bool AppInfo::runsAsBundle() const { return identifier == QLatin1String("com.tarnel.app"); }

bool AppInfo::launchedByAgent() { return qEnvironmentVariable("TARNEL_LAUNCHD_AGENT") == QLatin1String("1"); }

bool AppInfo::showMainForced() { return qEnvironmentVariable("TARNEL_SHOW_MAIN") == QLatin1String("1"); }

AppInfo AppInfo::fromBundle(const QString& bundleDir)
{
    AppInfo info = compiledIn();
    QFile file(bundleDir + QStringLiteral("/info.json"));
    if (!file.open(QIODevice::ReadOnly))
        return info;
    try {
        const QJsonObject o = Json::decodeObject(file.readAll());
        info.identifier = Json::string(o, QStringLiteral("identifier"), info.identifier);
        info.version = Json::string(o, QStringLiteral("version"), info.version);
        info.build = Json::string(o, QStringLiteral("build"), info.build);
    } catch (const JsonError&) {
    }
    return info;
}

const AppInfo& AppInfo::current()
{
    static const AppInfo info = [] {
        const QString appDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
        return appDir.isEmpty() ? compiledIn() : fromBundle(QDir(appDir).absoluteFilePath(QStringLiteral("..")));
    }();
    return info;
}
