#include "servers/EmbeddedScripts.h"

#include <QFile>

std::optional<QString> EmbeddedScripts::load(const QString& name)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return std::nullopt;
    QFile file(QStringLiteral(":/bundled/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QString::fromUtf8(file.readAll());
}
