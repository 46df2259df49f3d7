#include "servers/ScriptOutput.h"

#include <QRegularExpression>

std::optional<QString> ScriptOutput::rest(const QString& output, const QString& tag)
{
    static const QRegularExpression lineBreak(QStringLiteral("\r?\n|\r"));
    const QStringList lines = output.split(lineBreak);
    for (const QString& line : lines) {
        if (line == tag)
            return QString();
        if (line.startsWith(tag + QLatin1Char(' ')))
            return line.mid(tag.size() + 1).trimmed();
    }
    return std::nullopt;
}

std::optional<QStringList> ScriptOutput::fields(const QString& output, const QString& tag)
{
    const auto text = rest(output, tag);
    if (!text)
        return std::nullopt;
    return text->split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

QString ScriptOutput::firstOtherLine(const QString& text)
{
    static const QRegularExpression lineBreak(QStringLiteral("\r?\n|\r"));
    const QStringList lines = text.split(lineBreak);
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (!line.isEmpty() && !line.startsWith(QLatin1String("TARNEL_")))
            return line.left(100);
    }
    return QString();
}

std::optional<QString> ScriptOutput::hostname(const QString& output)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._-]{0,252}\\z"));
    const auto name = rest(output, QStringLiteral("TARNEL_HOSTNAME"));
    if (!name || !plain.match(*name).hasMatch())
        return std::nullopt;
    return name;
}
