#include "DeviceName.h"

#include "state/NameRule.h"

namespace DeviceName {

std::optional<QString> problem(const QString& name)
{
    return NameRule::problem(name, maxLength, QStringLiteral("名字 1～40 个字符"));
}

bool valid(const QString& name) { return !problem(name); }

} // namespace DeviceName
