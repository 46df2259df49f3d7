#pragma once

#include <QJsonObject>
#include <QStringList>
#include <optional>

// An update offer: the reply of api/update and the `update` member of a check-in reply.
struct UpdateInfo {
    bool available = false;
    std::optional<QString> version;
    std::optional<qint64> build;
    std::optional<QString> date;
    std::optional<QStringList> notes;
    std::optional<QString> url;
    std::optional<QString> sha256;
    std::optional<qint64> size;
    std::optional<QString> minimumSystem;

    // Strict: `available` required, the rest may be missing or null but not mistyped. Throws JsonError.
    static UpdateInfo decode(const QJsonObject& o);
    // Absent members are left out.
    QJsonObject encode() const;

    bool operator==(const UpdateInfo&) const = default;
};
