#pragma once

#include "link/LinkManager.h"
#include "link/LinkStatus.h"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <optional>

// Everything the devices page and its set-up steps show, gathered once per refresh.
struct DevicesPageFacts {
    bool available = false;
    LinkManager::Helper helper;
    std::optional<NodeStatus> status;
    QList<PeerDevice> peers; // in the link's order
    std::optional<QString> lastError;
    std::optional<QDateTime> lastPollAt;
    bool remoteAccess = false;
    QString hostName; // this machine's name before the first status document
    bool sshdListening = false;
    QSet<QString> authorizedKeyIDs;
    bool sharingPanel = false; // the desktop has a settings panel that switches the ssh server on
    QString notice;            // the page's one-line message
};

// Texts and choices of the devices page: pure functions of the facts.
class DevicesPageModel {
public:
    struct Text {
        QString text;
        QString role;
        bool operator==(const Text&) const = default;
    };
    // One row of the second set-up step.
    struct KeyRow {
        PeerDevice peer;
        bool allowed = false;
        QString state;
        QString button;
    };

    explicit DevicesPageModel(DevicesPageFacts facts) : facts(std::move(facts)) {}

    bool linkRunning() const { return facts.helper.kind == LinkManager::Helper::Kind::running; }
    QString selfName() const;
    std::optional<QString> selfAlias() const;
    QString selfStatusLine() const;
    QString helpLine() const;

    QList<PeerDevice> onlinePeers() const;
    QList<PeerDevice> offlinePeers() const;
    QString onlineHeader() const;
    QString emptyTitle() const;
    QString emptyHint() const;
    QString offlineSummary() const;
    static QString offlineState(const PeerDevice& peer);
    static QString kickTitle(const PeerDevice& peer);
    static QString kickMessage();
    static QString kickedNotice(const PeerDevice& peer);
    Text footer() const;

    // The set-up steps.
    QList<PeerDevice> keyLinesForOthers() const;
    int allowedCount() const;
    bool wizardComplete() const;
    QString doneSummary() const;
    QString wizardHeader() const;
    QString stepOneTitle() const;
    QString stepOneText() const;
    QString stepOneButton() const;
    // The step dots: "gray" (nothing to do yet), "green" or "orange".
    QString stepOneDot() const;
    QString stepTwoDot() const;
    QString stepTwoTitle() const;
    static QString stepTwoText();
    QList<KeyRow> keyRows() const;
    // Under step two while no machine reported a key.
    std::optional<QString> stepTwoMissing() const;

private:
    DevicesPageFacts facts;
};
