#pragma once

#include "delivery/SSHSession.h"
#include "state/Server.h"
#include "state/Settings.h"
#include "servers/ServerRegistry.h"

#include <QHash>
#include <QList>
#include <optional>

// What the servers page reads, gathered once per refresh.
struct ServersPageFacts {
    QList<Server> servers; // the registry's list, linked machines included
    QHash<QUuid, ServerRegistry::Status::Kind> statuses;
    Settings settings;
    bool accessibilityTrusted = true;
    int todayCount = 0;
    std::optional<QString> dataOverride; // the data folder when it was set from outside
    QString version;
};

// Texts and choices of the servers page and its add box: pure functions of the facts.
class ServersPageModel {
public:
    enum class Bar { none, onboarding, accessibility };

    explicit ServersPageModel(ServersPageFacts facts) : facts(std::move(facts)) {}

    // The servers the page lists: the registry's entries that are not linked machines, in its order.
    QList<Server> listed() const;
    Bar bar() const;
    QString accessibilityDetail() const;
    // The footer's left side: the counts and the paste hot key, or the data folder when it is overridden.
    QString footer() const;
    QString footerSymbol() const { return facts.dataOverride ? QStringLiteral("flask") : QString(); }
    QString versionText() const { return QStringLiteral("tarnel ") + facts.version; }

    // The live sessions no listed destination already stands for (host in any case, port 22 when none).
    static QList<SSHSession> suggestions(const QList<SSHSession>& sessions, const QList<Server>& servers);
    // The "连接" button is enabled once the text has more than spaces and tabs.
    static bool canConnect(const QString& typed);

private:
    int connectedCount() const;
    QString pasteHotkey() const;

    ServersPageFacts facts;
};
