#include "platform/x11/SystemdUserAgent.h"

#include "platform/ProcessRunner.h"
#include "state/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {
QString defaultConfigHome()
{
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    return !xdg.isEmpty() && QDir::isAbsolutePath(xdg) ? xdg : QDir::homePath() + QStringLiteral("/.config");
}
} // namespace

SystemdUserAgent::SystemdUserAgent(QString program, Systemctl systemctl, QString configHome)
    : program(std::move(program)), systemctl(std::move(systemctl)),
      configHome(configHome.isEmpty() ? defaultConfigHome() : std::move(configHome))
{
}

QString SystemdUserAgent::unitPath() const
{
    return configHome + QStringLiteral("/systemd/user/") + QLatin1String(unitName);
}

std::optional<QString> SystemdUserAgent::unitText(const QString& program)
{
    // systemd expands % and $ in ExecStart; a path holding them, quotes or controls is refused.
    static const QRegularExpression safe(QStringLiteral(R"(^/[^"'`$%\\\x00-\x1f]+$)"));
    if (!safe.match(program).hasMatch())
        return std::nullopt;
    return QStringLiteral("[Unit]\n"
                          "Description=tarnel（崩溃后自动重启）\n"
                          "After=graphical-session.target\n"
                          "PartOf=graphical-session.target\n"
                          "\n"
                          "[Service]\n"
                          "Type=simple\n"
                          "ExecStart=\"%1\"\n"
                          "Environment=TARNEL_LAUNCHD_AGENT=1\n"
                          "Restart=on-failure\n"
                          "RestartSec=3\n"
                          "\n"
                          "[Install]\n"
                          "WantedBy=graphical-session.target\n")
        .arg(program);
}

bool SystemdUserAgent::isRegistered() const
{
    const QString wanted =
        configHome + QStringLiteral("/systemd/user/graphical-session.target.wants/") + QLatin1String(unitName);
    return QFileInfo::exists(unitPath()) && QFileInfo(wanted).isSymLink();
}

Outcome<> SystemdUserAgent::registerAgent()
{
    const auto text = unitText(program);
    if (!text)
        return Outcome<>::failure(QStringLiteral("程序路径里有不能写进服务文件的字符：%1").arg(program));
    QDir().mkpath(QFileInfo(unitPath()).absolutePath());
    if (const Outcome<> written = AtomicFile::write(unitPath(), text->toUtf8(), 0644); !written.ok())
        return written;
    // The unit starts tarnel in the graphical session: it needs the display of this one.
    for (const QStringList& args : {QStringList{QStringLiteral("daemon-reload")},
                                    QStringList{QStringLiteral("import-environment"), QStringLiteral("DISPLAY"),
                                                QStringLiteral("XAUTHORITY")},
                                    QStringList{QStringLiteral("enable"), QString::fromLatin1(unitName)}})
        if (const Outcome<> done = systemctl(args); !done.ok())
            return done;
    return Outcome<>::success();
}

Outcome<> SystemdUserAgent::unregisterAgent()
{
    const Outcome<> disabled = systemctl({QStringLiteral("disable"), QString::fromLatin1(unitName)});
    if (QFileInfo::exists(unitPath()))
        QFile::remove(unitPath());
    systemctl({QStringLiteral("daemon-reload")});
    return disabled;
}

SystemdUserAgent::Systemctl SystemdUserAgent::realSystemctl()
{
    return [](const QStringList& args) {
        const CommandResult r = ProcessRunner::run(QStringLiteral("systemctl"), QStringList{QStringLiteral("--user")} + args,
                                               std::nullopt, 15);
        if (r.succeeded())
            return Outcome<>::success();
        const QString why = r.stderr.trimmed().section(QLatin1Char('\n'), 0, 0);
        return Outcome<>::failure(why.isEmpty() ? QStringLiteral("systemctl 退出码 %1").arg(r.status) : why);
    };
}
