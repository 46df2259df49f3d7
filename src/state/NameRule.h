#pragma once

#include <QString>
#include <optional>

// The one rule for a name other people see, a device's name or an account's display name: text only (no
// lone surrogate, no noncharacter), no control or format character (bidi controls, zero-width spaces, tag
// characters), no line or paragraph separator, no pile of combining marks, joiners or variation selectors,
// and something visible, so one name cannot read like another or like none.
// Each kind of name sets its own length; callers trim the name first.
namespace NameRule {

// Why the name is refused, as its refusal says it: `lengthText` when it is empty or longer than `longest`
// characters as the user counts them (grapheme clusters: an emoji sequence or a letter with its marks is
// one); none when it keeps the rule.
std::optional<QString> problem(const QString& name, int longest, const QString& lengthText);

} // namespace NameRule
