#pragma once

#include "state/Server.h"
#include "state/Settings.h"
#include "state/Shot.h"

#include <QList>

// The content of state.json.
struct StateFile {
    // Room for one shot record in the file as written: one on three destinations, each with a remote path
    // or an error, takes about 1,250 bytes; twice that covers longer paths and more destinations.
    static constexpr qint64 bytesPerShot = 2500;
    // The largest state.json the app can come to write: every shot the widest retention keeps, plus the
    // destinations and the rest. Anything larger no setting produces.
    static constexpr qint64 largestFileBytes = Settings::mostShotsKept * bytesPerShot + (qint64(16) << 20);

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
