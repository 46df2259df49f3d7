#pragma once

#include "account/UpdateInfo.h"

// The reply of a check-in (api/app/ping).
struct PingReply {
    QString account; // "active" means usable; any other word means disabled
    std::optional<QString> displayName;
    std::optional<QString> role;
    std::optional<UpdateInfo> update;

    static PingReply decode(const QJsonObject& o); // throws JsonError
    bool operator==(const PingReply&) const = default;
};
