#pragma once

#include "state/Server.h"
#include "state/Shot.h"

#include <QList>

// The content of state.json.
struct StateFile {
    int version = 1;
    QList<Server> servers;
    QList<Shot> shots; // oldest first
    std::optional<QString> lastHash;
    std::optional<QString> selectedShot;
    QStringList linkSeenDevices;
    QStringList linkWantedTunnels;

    static StateFile fromJson(const QJsonObject& o); // lenient
    QJsonObject toJson() const;
    bool operator==(const StateFile&) const = default;
};

// The daily counter in seq.json; both keys are required.
struct Seq {
    QString date; // "yyyyMMdd", local time
    qint64 n = 0;

    static Seq fromJson(const QJsonObject& o); // throws JsonError
    QJsonObject toJson() const;
};
