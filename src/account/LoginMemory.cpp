#include "account/LoginMemory.h"

#include <QSettings>

namespace {
const QString key = QStringLiteral("lastUsername");
const QString owner = QStringLiteral("tarnel");
} // namespace

std::optional<QString> LoginMemory::lastUsername()
{
    const QVariant value = QSettings(owner, owner).value(key);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

void LoginMemory::setLastUsername(const QString& name)
{
    QSettings settings(owner, owner);
    settings.setValue(key, name);
}
