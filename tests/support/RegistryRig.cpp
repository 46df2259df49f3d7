#include "support/RegistryRig.h"

#include "support/WaitUntil.h"

namespace {
StateStore& emptied(StateStore& state)
{
    state.update([](StateFile& file) { file.servers.clear(); });
    return state;
}
} // namespace

RegistryRig::RegistryRig(const QString& dataDir, int highlightMs)
    : store(dataDir), state(store), registry(emptied(state)), page(registry, highlightMs)
{
}

bool RegistryRig::settled(const QUuid& id)
{
    return waitUntil([&] { return registry.status(id).kind != ServerRegistry::Status::Kind::connecting; }, Limit::ssh);
}

RegistryRig::Answer RegistryRig::wait(const std::function<void(ServerRegistry::Done)>& start)
{
    Caught<Outcome<QString>> done;
    start(done.callback());
    const auto outcome = done.wait(Limit::ssh);
    if (!outcome)
        return {QStringLiteral("<no answer>"), false};
    return {outcome->ok() ? outcome->value() : outcome->failure(), outcome->needsPassword()};
}

RegistryRig::Answer RegistryRig::rules(const QUuid& id, const QStringList& wanted, const std::optional<QString>& password)
{
    return wait([&](ServerRegistry::Done done) { registry.applyRules(id, wanted, password, done); });
}

RegistryRig::Answer RegistryRig::revoke(const QUuid& id, const std::optional<QString>& password)
{
    return wait([&](ServerRegistry::Done done) { registry.revokeKey(id, password, done); });
}

RegistryRig::Answer RegistryRig::remove(const QUuid& id, bool purge)
{
    return wait([&](ServerRegistry::Done done) { registry.remove(id, purge, done); });
}

RegistryRig::Answer RegistryRig::uninstallWithPassword(const Server& server, const QString& password, bool purge)
{
    return wait([&](ServerRegistry::Done done) { registry.uninstallWithPassword(server, password, purge, done); });
}
