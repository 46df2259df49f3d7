#pragma once

#include <QString>
#include <optional>

// The one rule for a name other people see, a device's name or an account's display name: no control or
// format character (bidi controls, zero-width spaces, tag characters), no line or paragraph separator,
// no pile of combining marks, and something visible, so one name cannot read like another or like none.
// Each kind of name sets its own length; callers trim the name first.
namespace NameRule {

// Why the name breaks the rule, as its refusal says it; none when it keeps it.
std::optional<QString> problem(const QString& name);

} // namespace NameRule
