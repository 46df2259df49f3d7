#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

// The records of the link program's status document. Both sides use them: tarnel decodes what tarnel-net
// encodes. Decoding is lenient: a missing, null or mistyped key takes its default; only a nested value that
// is not an object drops that nested record (and one non-object element empties the whole peer list).

// The peer-to-peer connection to one other machine.
struct LinkStatus {
    QString state; // "new", "checking", "connecting", "connected", "disconnected", or anything else
    QString path;  // "relay" or direct
    QString peerPath;
    double iceRttMs = 0;
    double appRttMs = 0;
    double connectMs = 0;
    qint64 restarts = 0;
    double sinceSec = 0;
    QString trigger;
    bool peerAllows = false;
    QString peerVersion;
    qint64 tunnels = 0;
    qint64 inboundTunnels = 0;
    qint64 outboundTunnels = 0;

    static LinkStatus decode(const QJsonObject& o);
    QJsonObject toJson() const;
    bool relayed() const;
    bool operator==(const LinkStatus&) const = default;
};

// Another machine of the same account; its identity is `id`.
struct PeerDevice {
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
    QString lastSeen;
    std::optional<LinkStatus> link;

    static PeerDevice decode(const QJsonObject& o);
    QJsonObject toJson() const;
    // The short connection text of a device card.
    QString pathLabel() const;
    // How log lines and notices name the machine: its name, else its alias.
    QString shownName() const;
    // The shown name without line breaks or other control characters: for scripts, log lines and notices.
    QString plainName() const { return plain(shownName()); }
    // Peer text with line breaks and other control characters removed.
    static QString plain(const QString& text);
    bool operator==(const PeerDevice&) const = default;
};

// This machine as registered with the account.
struct SelfDevice {
    // The alias a name suggests: "qx-" and its ASCII letters and digits, other runs as one "-".
    static QString aliasSlug(const QString& name);

    QString id;
    QString name;
    QString alias;
    QString createdAt;

    static SelfDevice decode(const QJsonObject& o);
    QJsonObject toJson() const;
    bool operator==(const SelfDevice&) const = default;
};

// The link program's connection to the account service.
struct SiteStatus {
    bool ok = false;
    QString lastError;
    QString lastOkAt;

    static SiteStatus decode(const QJsonObject& o);
    QJsonObject toJson() const;
    bool operator==(const SiteStatus&) const = default;
};

// The whole status document.
struct NodeStatus {
    QString version;
    qint64 pid = 0;
    double uptimeSec = 0;
    bool allowInbound = false;
    SelfDevice device;
    std::optional<SiteStatus> site;
    QString devicesVersion;
    QList<PeerDevice> peers;

    static NodeStatus decode(const QJsonObject& o);
    // Empty when the text is not JSON or its top level is not an object.
    static std::optional<NodeStatus> parse(const QByteArray& bytes);
    // True when the object is meant as a status document: it has no `error` member and holds at least one
    // of the document's keys. An error reply or an unrelated object must not be applied as an empty status.
    static bool isDocument(const QJsonObject& o);

    QJsonObject toJson() const;
    QByteArray toLine() const; // compact JSON, no line feed
    bool operator==(const NodeStatus&) const = default;
};
