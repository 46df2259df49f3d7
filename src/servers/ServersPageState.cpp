#include "servers/ServersPageState.h"

ServersPageState::ServersPageState(ServerRegistry& registry, int highlightMs, QObject* parent)
    : QObject(parent), registry(registry)
{
    highlightTimer.setSingleShot(true);
    highlightTimer.setInterval(highlightMs);
    connect(&highlightTimer, &QTimer::timeout, this, [this] { setHighlight(std::nullopt); });
    // A removed entry is lit no more.
    connect(&registry, &ServerRegistry::changed, this, [this] {
        if (highlight && !this->registry.server(*highlight))
            setHighlight(std::nullopt);
    });
}

void ServersPageState::setInputError(const std::optional<QString>& text)
{
    if (error == text)
        return;
    error = text;
    Q_EMIT changed();
}

void ServersPageState::setHighlight(const std::optional<QUuid>& id)
{
    if (highlight == id)
        return;
    highlight = id;
    Q_EMIT changed();
}

std::optional<Server> ServersPageState::add(const QString& input)
{
    const auto added = registry.add(input);
    setInputError(added.ok() ? std::nullopt : std::optional<QString>(added.failure()));
    if (!added.ok())
        return std::nullopt;
    if (added.value().existing) {
        setHighlight(added.value().server.id);
        highlightTimer.start();
    }
    return added.value().server;
}

std::optional<Server> ServersPageState::addDevice(const ServerRegistry::Peer& peer)
{
    const auto added = registry.addDevice(peer);
    setInputError(added.ok() ? std::nullopt : std::optional<QString>(added.failure()));
    return added.ok() ? std::optional<Server>(added.value()) : std::nullopt;
}
