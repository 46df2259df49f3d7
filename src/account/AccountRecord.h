#pragma once

#include "state/Outcome.h"

#include <QJsonObject>
#include <optional>

// The saved sign-in, kept in account.json in the data directory (private, 0600).
struct AccountRecord {
    QString username;
    QString displayName;
    QString token;
    std::optional<QString> role;
    // The id of the service that issued the token; none in sign-ins saved before services named themselves.
    std::optional<QString> service;

    static AccountRecord decode(const QJsonObject& o); // throws JsonError
    QJsonObject encode() const;                       // `role` and `service` only when set

    static QString filePath();
    // The saved sign-in; none when the file is missing, unreadable or does not decode (then it is kept
    // aside as account.json.broken-<time> and logged).
    static std::optional<AccountRecord> load();
    // Compact JSON, written atomically with mode 0600 from its creation. Returns an error text on failure.
    Outcome<> save() const;
    // Deletes account.json; a missing file or any error is ignored.
    static void remove();

    bool operator==(const AccountRecord&) const = default;
};
