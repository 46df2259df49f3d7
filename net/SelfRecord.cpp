#include "SelfRecord.h"

#include "link/DeviceName.h"
#include "link/LinkStatus.h"
#include "state/AtomicFile.h"
#include "state/Json.h"

#include <QFile>
#include <QRegularExpression>
#include <QTextBoundaryFinder>

SelfRecord SelfRecord::load(const QString& path, const QString& defaultName)
{
    SelfRecord record;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        try {
            const QJsonObject o = Json::decodeObject(file.readAll());
            record.name = Json::string(o, QStringLiteral("name"));
            record.alias = Json::string(o, QStringLiteral("alias"));
            record.createdAt = Json::string(o, QStringLiteral("createdAt"));
        } catch (const JsonError&) {
            AtomicFile::keepAside(path);
        }
    }
    if (!validName(record.name)) {
        QString name = trimName(defaultName);
        QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, name);
        for (int count = 0; graphemes.toNextBoundary() >= 0;) {
            if (++count == 40) {
                name = trimName(name.left(graphemes.position()));
                break;
            }
        }
        record.name = validName(name) ? name : QStringLiteral("Linux");
    }
    if (!validAlias(record.alias))
        record.alias = aliasSlug(record.name);
    return record;
}

Outcome<> SelfRecord::save(const QString& path) const
{
    QJsonObject o{{QStringLiteral("name"), name}, {QStringLiteral("alias"), alias}};
    Json::put(o, QStringLiteral("createdAt"), createdAt.isEmpty() ? std::nullopt : std::optional<QString>(createdAt));
    return AtomicFile::write(path, Json::encode(o), 0600);
}

bool SelfRecord::validAlias(const QString& alias)
{
    static const QRegularExpression pattern(QStringLiteral("^qx-[a-z0-9-]{1,24}$"));
    return pattern.match(alias).hasMatch();
}

QString SelfRecord::trimName(const QString& name)
{
    int from = 0;
    int to = int(name.size());
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (from < to && blank(name.at(from)))
        ++from;
    while (to > from && blank(name.at(to - 1)))
        --to;
    return name.mid(from, to - from);
}

bool SelfRecord::validName(const QString& name)
{
    return name == trimName(name) && DeviceName::valid(name);
}

QString SelfRecord::aliasSlug(const QString& name) { return SelfDevice::aliasSlug(name); }
