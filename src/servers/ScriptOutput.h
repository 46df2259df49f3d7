#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Result lines of the server scripts: "<TAG> <fields…>", one per line; the first line with the tag wins.
// Output read from a pseudo-terminal carries "\r\n"; both ends are accepted.
class ScriptOutput {
public:
    // The text after "<tag> " (trimmed), or none when no line carries the tag.
    static std::optional<QString> rest(const QString& output, const QString& tag);
    static std::optional<QStringList> fields(const QString& output, const QString& tag);
    // The host name from "TARNEL_HOSTNAME <name>", when it is a plain host name (it is shown and matched
    // against window titles, so nothing else is taken).
    static std::optional<QString> hostname(const QString& output);
    // The first non-empty line that is not a result line (for a failure message), at most 100 characters.
    static QString firstOtherLine(const QString& text);
};
