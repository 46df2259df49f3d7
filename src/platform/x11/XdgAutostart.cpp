#include "platform/x11/XdgAutostart.h"

#include "state/AtomicFile.h"
#include "state/Paths.h"

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

XdgAutostart::XdgAutostart(QString program, QString configHome)
    : program(std::move(program)), configHome(configHome.isEmpty() ? defaultConfigHome() : std::move(configHome))
{
}

QString XdgAutostart::filePath() const { return configHome + QStringLiteral("/autostart/tarnel.desktop"); }

bool XdgAutostart::isEnabled() const { return QFileInfo::exists(filePath()); }

std::optional<QString> XdgAutostart::desktopEntry(const QString& program)
{
    // Quoted Exec values may not hold these without escapes; a path that needs them is refused.
    static const QRegularExpression safe(QStringLiteral(R"(^/[^"`$\\\x00-\x1f]+$)"));
    if (!safe.match(program).hasMatch())
        return std::nullopt;
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=tarnel\n"
                          "Comment=把截图送到终端所在的机器\n"
                          "Exec=\"%1\"\n"
                          "Terminal=false\n"
                          "NoDisplay=true\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(program);
}

Outcome<> XdgAutostart::setEnabled(bool enabled)
{
    if (!enabled) {
        if (QFileInfo::exists(filePath()) && !QFile::remove(filePath()))
            return Outcome<>::failure(QStringLiteral("删不掉 %1").arg(filePath()));
        return Outcome<>::success();
    }
    const auto entry = desktopEntry(program);
    if (!entry)
        return Outcome<>::failure(QStringLiteral("程序路径里有不能写进启动项的字符：%1").arg(program));
    QDir().mkpath(QFileInfo(filePath()).absolutePath());
    return AtomicFile::write(filePath(), entry->toUtf8(), 0644);
}
