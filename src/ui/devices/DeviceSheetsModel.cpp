#include "ui/devices/DeviceSheetsModel.h"

#include <QRegularExpression>

QString DeviceSheetsModel::keyComment(const QString& keyLine)
{
    const QStringList fields = keyLine.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (fields.size() < 3)
        return QStringLiteral("tarnel@…");
    return fields.mid(2).join(QLatin1Char(' '));
}

QString DeviceSheetsModel::shellQuoted(const QString& text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

Outcome<QString> DeviceSheetsModel::includeCommand(const QString& devicesConfigPath)
{
    // ssh_config's quoted words have no escape for a double quote, and a line cannot hold a control character.
    for (const QChar c : devicesConfigPath)
        if (c == QLatin1Char('"') || c.category() == QChar::Other_Control)
            return Outcome<QString>::failure(
                QStringLiteral("数据目录的路径里有双引号或控制字符，~/.ssh/config 的 Include 行写不了它；换一个没有这些字符的数据目录再试"));
    return Outcome<QString>::success(
        QStringLiteral("mkdir -p ~/.ssh && chmod 700 ~/.ssh && touch ~/.ssh/config && { printf 'Include \"%s\"\\n\\n' ")
        + shellQuoted(devicesConfigPath)
        + QStringLiteral("; cat ~/.ssh/config; } > ~/.ssh/config.tarnel.new && mv ~/.ssh/config.tarnel.new ~/.ssh/config"
                         " && chmod 600 ~/.ssh/config && echo '好了：以后在任何终端直接 ssh qx-xxx'"));
}

DeviceSheetsModel::Typed DeviceSheetsModel::lowerAlias(const QString& text, int cursor)
{
    const QString lower = text.toLower();
    if (lower == text)
        return {text, cursor};
    // Lower-casing can change the length before the cursor (a few letters become two).
    const int before = int(text.left(cursor).toLower().size());
    return {lower, std::min(before, int(lower.size()))};
}
