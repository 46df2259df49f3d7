#include "DeviceName.h"

#include "state/NameRule.h"

namespace {
const QString lengthText = QStringLiteral("名字 1～40 个字符");
} // namespace

namespace DeviceName {

std::optional<QString> problem(const QString& name)
{
    if (name.isEmpty() || name.size() > NameRule::unitLimit(maxLength))
        return lengthText;
    if (auto broken = NameRule::problem(name))
        return broken;
    if (NameRule::length(name) > maxLength)
        return lengthText;
    return std::nullopt;
}

bool valid(const QString& name) { return !problem(name); }

} // namespace DeviceName
