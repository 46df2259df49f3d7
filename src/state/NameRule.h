#pragma once

#include <QString>
#include <optional>

// The one rule for a name other people see, a device's name or an account's display name: text only (no
// lone surrogate, no noncharacter), no control or format character (bidi controls, zero-width spaces, tag
// characters), no line or paragraph separator, no pile of combining marks, joiners or variation selectors,
// and something visible, so one name cannot read like another or like none.
// Each kind of name sets its own length, counted in length()'s characters; callers trim the name first.
namespace NameRule {

// Why the name breaks the rule, as its refusal says it; none when it keeps it.
std::optional<QString> problem(const QString& name);
// Characters as the user counts them: grapheme clusters, so an emoji sequence or a letter with its
// marks is one.
int length(const QString& name);
// The most UTF-16 units a name of `characters` such characters may take.
constexpr qsizetype unitLimit(int characters) { return qsizetype(characters) * 20; }

} // namespace NameRule
