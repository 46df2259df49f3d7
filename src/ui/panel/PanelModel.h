#pragma once

#include "app/PanelTab.h"
#include "servers/ServerRegistry.h"
#include "state/Server.h"
#include "state/Settings.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QUuid>
#include <optional>

// What the panel reads of another machine of the account, as the device link reports it.
struct PanelPeer {
    QString name;
    QString alias;
    bool online = false;
    bool hasLink = false; // the link reported a state for it
    QString linkState;    // "connected" when the link is up
    QString path;         // "relay" when this side goes through the relay
    QString peerPath;
    int inboundTunnels = 0; // ssh sessions from that machine into this one

    QString displayName() const { return name.isEmpty() ? alias : name; }
};

// What the device link reports to the panel.
struct PanelLink {
    bool available = false; // the link program is part of this installation
    QList<PanelPeer> peers;
};

// Everything the panel's header, gate bar and empty page show, gathered once per refresh.
struct PanelFacts {
    QList<Server> servers;
    QHash<QUuid, ServerRegistry::Status::Kind> statuses; // an id without an entry is unknown
    QHash<QUuid, QString> failures;                       // the message of each failed status
    PanelLink link;
    Settings settings;
    bool paused = false;
    int todayCount = 0;
    std::optional<qint64> chosenNumber; // the number of the shot chosen for the next paste, while it exists
    std::optional<QString> gateReason;   // why the account gate is closed; none while open
    bool accountDisabled = false;
};

// A text with its colour role and tooltip.
struct StatusLook {
    QString text;
    QString role;
    QString tooltip;
    bool operator==(const StatusLook&) const = default;
};

struct GateBarLook {
    QString symbol;
    QString text;
    QString button;
    bool operator==(const GateBarLook&) const = default;
};

// The lines under "还没有截图": who is connected in, and either how to paste or (none) the way to the
// servers page.
struct EmptyPageLook {
    std::optional<QString> inbound;
    std::optional<QString> connectedHint;
};

// Texts, colours and choices of the panel's header, gate bar and empty shots page: pure functions of the
// facts, so they are tested without a display.
class PanelModel {
public:
    explicit PanelModel(PanelFacts facts) : facts(std::move(facts)) {}

    // Destinations that are on, have the key installed and are connected (linked machines included).
    int connectedCount() const;
    // Destinations that are on and set up but failed (an upload found the key refused or the host out of
    // reach, or the last connect failed): "name reason" each, and "name：message" each.
    QStringList unreachable() const;
    QStringList unreachableReasons() const;
    // Peers with ssh sessions running into this machine, by display name.
    QStringList inboundNames() const;
    // The paste hot key as the desktop writes it; the default one when the setting does not parse.
    QString pasteHotkey() const;

    QString segmentLabel(PanelTab tab) const;
    StatusLook status() const;
    // The paste hint: the hot key and " 粘 ", then what it pastes ("截图7", or "最新一张" when none is chosen).
    QString pasteHintLead() const;
    std::optional<QString> pasteHintChosen() const;
    QString pasteHintLatest() const;
    // Shorter forms of the hint (lead, then what it pastes) for a narrow header, longest first: fewer
    // words, the hot key and the chosen shot's number kept.
    QList<std::pair<QString, QString>> pasteHintShortForms() const;
    QString serversHeader() const;
    QString devicesHeader() const;
    std::optional<GateBarLook> gateBar() const;
    EmptyPageLook emptyPage() const;
    QString pauseLabel() const;

    static QString defaultPasteHotkey();

private:
    PanelFacts facts;
};
