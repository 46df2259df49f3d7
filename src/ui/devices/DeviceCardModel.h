#pragma once

#include "link/LinkStatus.h"
#include "servers/ServerRegistry.h"
#include "state/Server.h"
#include "ui/devices/DeviceCommands.h"

#include <QList>
#include <QString>
#include <optional>

// Everything one peer's card shows, gathered once per refresh.
struct DeviceCardFacts {
    PeerDevice peer;
    Tunnel tunnel;
    bool keyAuthorized = false; // its key is in this machine's authorized_keys
    bool wanted = false;        // the user wants its connection kept open
    bool sshConfigIncluded = false;
    QString command; // the ssh command for it
    // Its shot destination (the first listed with its device id) and that destination's status.
    std::optional<Server> destination;
    ServerRegistry::Status destinationStatus;
    std::optional<QString> syncRefusal; // why making it a destination after the connection opened failed
    QString hotkeyPaste;
};

// Texts, colour roles and choices of one peer's card: pure functions of the facts.
class DeviceCardModel {
public:
    struct Text {
        QString text;
        QString role;
        QString tooltip;
        bool operator==(const Text&) const = default;
    };
    struct Border {
        QString role; // "separator": the system's separator colour
        double opacity = 1.0;
        bool operator==(const Border&) const = default;
    };
    enum class Action { open, busy, close };

    explicit DeviceCardModel(DeviceCardFacts facts) : facts(std::move(facts)) {}

    QString displayName() const;
    QString dotRole() const;
    QString statusLine() const;
    QList<Text> badges() const;

    Action action() const;
    bool canOpen() const { return facts.peer.online; }
    QString openTooltip() const;
    QString busyText() const;

    // The detail under the header: the open connection's line, the reconnecting or failed text, a hint.
    std::optional<Text> detail() const;
    std::optional<QString> failedHint() const;
    // The notes under an open connection's command: whether it names the short-command sheet.
    QString includeNote() const;
    QString includeHint() const;
    QString keepNote() const;

    // The sync row: none when there is nothing to say.
    std::optional<Text> syncLine() const;
    bool syncSwitchShown() const { return facts.destination.has_value(); }
    bool hasDestination() const { return facts.destination.has_value(); }
    bool canStartSync() const { return facts.peer.online && facts.peer.remoteAccess; }
    Border border() const;

    static QString syncText(const Server& server, const ServerRegistry::Status& status, const QString& hotkeyPaste);
    static bool relayed(const PeerDevice& peer);

private:
    DeviceCardFacts facts;
};
