#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QStringList>
#include <QUuid>
#include <optional>

// The outcome of the last login-name probe. `at`, `ok` and `elapsed` are required on disk.
struct ProbeRecord {
    QDateTime at;
    bool ok = false;
    std::optional<QString> user;
    std::optional<QString> hostname;
    std::optional<QString> error;
    double elapsed = 0; // seconds

    static ProbeRecord fromJson(const QJsonObject& o); // throws JsonError
    QJsonObject toJson() const;
    bool operator==(const ProbeRecord&) const = default;
};

// What a destination's setup achieved.
struct SetupState {
    std::optional<qint64> receiverVersion;
    bool keyInstalled = false;
    std::optional<QString> remoteDirAbsolute;
    QStringList ruleBlocks; // AI-tool keys, sorted
    std::optional<QDateTime> lastPing;
    std::optional<ProbeRecord> lastProbe;
    std::optional<QString> hostname; // the host's own name, as the last install reported it

    // Lenient; a bad lastProbe is dropped (and logged), not the whole record.
    static SetupState fromJson(const QJsonObject& o);
    QJsonObject toJson() const;
    bool operator==(const SetupState&) const = default;
};

// One destination: a server, or a linked machine (deviceID and deviceAlias set).
struct Server {
    QUuid id = QUuid::createUuid();
    QString name;
    QString host;
    int port = 22;
    std::optional<QString> user;
    std::optional<QString> proxyJump;
    bool enabled = true;
    QStringList matchKeywords;
    bool smartOnly = false;
    QString remoteDir = QStringLiteral("~/tarnel");
    SetupState setup;
    QDateTime addedAt = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
    std::optional<QString> deviceID;
    std::optional<QString> deviceAlias;

    bool isDevice() const { return deviceID.has_value(); }
    // The id as written in state files and upload maps.
    QString idText() const;

    static Server fromJson(const QJsonObject& o); // lenient
    QJsonObject toJson() const;
    bool operator==(const Server&) const = default;
};
