#pragma once

#include <QString>

// The one rule for a device's name, kept by tarnel, tarnel-net and the account service alike: 1 to 40
// user-perceived characters, none of them a control character, a bidi override or isolate, or a stack of
// combining marks, any of which lets one name read like another. Callers trim the name first.
namespace DeviceName {

constexpr int maxLength = 40;

bool valid(const QString& name);
// User-perceived characters (grapheme clusters).
int length(const QString& name);

} // namespace DeviceName
