#pragma once

#include <QJsonObject>
#include <optional>

// The reply of api/logout, api/diag, api/feedback and the device removal.
struct OKReply {
    std::optional<bool> ok;
    std::optional<qint64> id; // the number the service gave the stored item

    static OKReply decode(const QJsonObject& o); // throws JsonError
    bool operator==(const OKReply&) const = default;
};
