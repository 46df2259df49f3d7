#include "account/MachineInfo.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <unistd.h>
#include <utility>

namespace {
QString readText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

// One key of os-release: KEY=value, the value optionally in single or double quotes.
QString osReleaseValue(const QString& text, const QString& key)
{
    for (const QString& raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (!line.startsWith(key + QLatin1Char('=')))
            continue;
        QString value = line.mid(key.size() + 1);
        if (value.size() >= 2 && (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\''))
            && value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        return value;
    }
    return {};
}

bool isVersionText(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\d+(\\.\\d+)*$"));
    return pattern.match(text).hasMatch();
}
} // namespace

QString MachineInfo::threePartVersion(const QString& text)
{
    // Pieces keep their digits as written ("22.04" stays "22.04.0").
    static const QRegularExpression digits(QStringLiteral("^\\d+$"));
    QStringList parts;
    for (const QString& piece : text.trimmed().split(QLatin1Char('.'), Qt::SkipEmptyParts)) {
        if (digits.match(piece).hasMatch())
            parts << piece;
        if (parts.size() == 3)
            break;
    }
    while (parts.size() < 3)
        parts << QStringLiteral("0");
    return parts.join(QLatin1Char('.'));
}

namespace {
// The system's name and its version as written (may be empty).
std::pair<QString, QString> nameAndVersion(const QString& osRelease, const QString& debianVersion)
{
    QString name = osReleaseValue(osRelease, QStringLiteral("NAME"));
    if (name.isEmpty())
        name = QStringLiteral("Linux");
    // Debian's point release lives only in debian_version ("12.11"); testing says "trixie/sid" there.
    QString version = debianVersion.trimmed();
    if (!isVersionText(version))
        version = osReleaseValue(osRelease, QStringLiteral("VERSION_ID"));
    return {name, version};
}

QString osReleaseText()
{
    const QString text = readText(QStringLiteral("/etc/os-release"));
    return text.isEmpty() ? readText(QStringLiteral("/usr/lib/os-release")) : text;
}
} // namespace

QString MachineInfo::systemFrom(const QString& osRelease, const QString& debianVersion)
{
    const auto [name, version] = nameAndVersion(osRelease, debianVersion);
    return name + QLatin1Char(' ') + threePartVersion(version);
}

QString MachineInfo::system() { return systemFrom(osReleaseText(), readText(QStringLiteral("/etc/debian_version"))); }

QString MachineInfo::model() { return readText(QStringLiteral("/sys/class/dmi/id/product_name")).trimmed(); }

qint64 MachineInfo::memoryBytes()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long size = ::sysconf(_SC_PAGE_SIZE);
    return pages > 0 && size > 0 ? qint64(pages) * size : 0;
}

QString MachineInfo::memoryText(qint64 bytes) { return QString::number(bytes >> 30) + QStringLiteral(" GB"); }
