#pragma once

#include <QString>
#include <optional>

// The one rule for a device's name, kept by tarnel, tarnel-net and the account service alike: 1 to 40
// user-perceived characters that keep the rule for names (state/NameRule). Callers trim the name first.
namespace DeviceName {

constexpr int maxLength = 40;

bool valid(const QString& name);
// Why the name is refused, as the refusal says it; none when it is valid.
std::optional<QString> problem(const QString& name);

} // namespace DeviceName
