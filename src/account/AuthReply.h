#pragma once

#include <QJsonObject>
#include <optional>

// The reply of api/login and api/register.
struct AuthReply {
    std::optional<QString> token; // a missing or empty token fails the sign-in later, not the decoding
    QString username;
    QString displayName;
    QString role;
    QString status;

    static AuthReply decode(const QJsonObject& o); // throws JsonError
    bool operator==(const AuthReply&) const = default;
};
