#include "servers/RemoteDir.h"

#include <QRegularExpression>

namespace {

constexpr int maxLength = 200;

bool componentsArePlain(QString path)
{
    if (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (path.isEmpty())
        return false;
    const QStringList parts = path.split(QLatin1Char('/'));
    for (const QString& part : parts) {
        // Never the ssh folder: a purge on removal would take the user's keys with it.
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..") || part == QLatin1String(".ssh"))
            return false;
    }
    return true;
}

// A system folder, or a user's home itself: shared with everything else on the server, never tarnel's.
bool isSystemFolder(QString path)
{
    static const QStringList topLevel = {QStringLiteral("bin"), QStringLiteral("boot"), QStringLiteral("dev"),
        QStringLiteral("etc"), QStringLiteral("home"), QStringLiteral("lib"), QStringLiteral("lib32"),
        QStringLiteral("lib64"), QStringLiteral("libx32"), QStringLiteral("media"), QStringLiteral("mnt"),
        QStringLiteral("opt"), QStringLiteral("proc"), QStringLiteral("root"), QStringLiteral("run"),
        QStringLiteral("sbin"), QStringLiteral("srv"), QStringLiteral("sys"), QStringLiteral("tmp"),
        QStringLiteral("usr"), QStringLiteral("var"), QStringLiteral("Users"), QStringLiteral("Library"),
        QStringLiteral("System"), QStringLiteral("Applications"), QStringLiteral("Volumes"), QStringLiteral("private")};
    if (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const QStringList parts = path.split(QLatin1Char('/'));
    if (parts.size() == 1)
        return topLevel.contains(parts.first());
    const bool homes = parts.first() == QLatin1String("home") || parts.first() == QLatin1String("Users");
    return parts.size() == 2 && homes;
}

} // namespace

bool RemoteDir::isValid(const QString& dir)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._/-]*\\z"));
    if (dir.size() > maxLength)
        return false;
    QString rest;
    if (dir.startsWith(QLatin1String("~/")))
        rest = dir.mid(2);
    else if (dir.startsWith(QLatin1Char('/')))
        rest = dir.mid(1);
    else
        return false;
    if (dir.startsWith(QLatin1Char('/')) && isSystemFolder(rest))
        return false;
    return plain.match(rest).hasMatch() && componentsArePlain(rest);
}

bool RemoteDir::isValidAbsolute(const QString& dir)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._/@+-]*\\z"));
    if (dir.size() > 1000 || !dir.startsWith(QLatin1Char('/')))
        return false;
    const QString rest = dir.mid(1);
    return plain.match(rest).hasMatch() && componentsArePlain(rest);
}
