#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QMap>
#include <QUuid>
#include <optional>

// One shot's state on one destination. `state` is required on disk.
struct Upload {
    enum class State { pending, uploading, done, failed, skipped };

    State state = State::pending;
    std::optional<QString> remotePath;
    std::optional<QString> error;
    std::optional<QDateTime> at;

    static QString stateName(State state);
    static std::optional<State> stateFromName(const QString& name);

    static Upload fromJson(const QJsonObject& o); // throws JsonError
    QJsonObject toJson() const;
    bool operator==(const Upload&) const = default;
};

// One stored screenshot; identified by its file name.
struct Shot {
    qint64 n = 0;
    QDateTime ts;
    int w = 0;
    int h = 0;
    QString localPath;
    QString name;
    QString hash;
    QString fingerprint;
    int pasted = 0;
    int updated = 0;
    QMap<QString, Upload> uploads; // key: destination id as upper-case UUID

    std::optional<Upload> upload(const QUuid& serverId) const;

    // Lenient; a bad upload entry is dropped (and logged), not the whole shot.
    static Shot fromJson(const QJsonObject& o);
    QJsonObject toJson() const;
    bool operator==(const Shot&) const = default;
};
