#pragma once

#include "servers/ServerRegistry.h"

#include <QObject>
#include <QTimer>
#include <QUuid>
#include <optional>

// What the servers page shows beside the list: the entry lit up for a moment when its address is typed
// again, and what is wrong with a typed address. State of the page, not of the list; main thread.
class ServersPageState : public QObject {
    Q_OBJECT
public:
    static constexpr int defaultHighlightMs = 4000;

    explicit ServersPageState(ServerRegistry& registry, int highlightMs = defaultHighlightMs, QObject* parent = nullptr);

    std::optional<QUuid> highlighted() const { return highlight; }
    std::optional<QString> inputError() const { return error; }
    void setInputError(const std::optional<QString>& text);

    // Adds what the user typed (an address, or a linked machine's alias) through the registry; the entry
    // when there is one, else none with inputError() saying why.
    std::optional<Server> add(const QString& input);
    std::optional<Server> addDevice(const ServerRegistry::Peer& peer);

Q_SIGNALS:
    void changed();

private:
    void setHighlight(const std::optional<QUuid>& id);

    ServerRegistry& registry;
    QTimer highlightTimer;
    std::optional<QUuid> highlight;
    std::optional<QString> error;
};
