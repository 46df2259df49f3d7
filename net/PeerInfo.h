#pragma once

#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

// Another device of the account as the account service lists it.
struct PeerInfo {
    struct Endpoint {
        QHostAddress address;
        int port = 0;
        bool operator==(const Endpoint&) const = default;
    };

    QString id;
    QString name;
    QString alias;
    QString sshUser;
    QString sshPubKey;
    QString hostPubKey;
    QString model;
    QString osVersion;
    qint64 appBuild = 0;
    bool remoteAccess = false;
    bool online = false;
    QString lastSeen; // local time, "yyyy-MM-dd HH:mm:ss"
    QString version;
    QString certSha256;
    QList<Endpoint> endpoints;

    // A listed device this program can use: a valid alias and id, a login name and a client key. None
    // for anything else.
    static std::optional<PeerInfo> fromService(const QJsonObject& o);
    // Linkable: online with a certificate to pin.
    bool reachable() const;
    QString shownName() const { return name.isEmpty() ? alias : name; }
};
