#pragma once

#include <QString>
#include <optional>

// The user default `lastUsername`: the last login name (trimmed of blanks and tabs) with which a sign-in or
// registration succeeded. Kept in the application's QSettings (organisation and application "tarnel").
class LoginMemory {
public:
    static std::optional<QString> lastUsername();
    static void setLastUsername(const QString& name);
};
