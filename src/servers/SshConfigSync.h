#pragma once

#include "state/Outcome.h"
#include "state/Server.h"

#include <QHash>
#include <QList>
#include <mutex>
#include <optional>

// Keeps ssh_config in step with the saved list. The main thread hands over every saved list; connect
// workers write the file too, with their own entry as they have it at that moment. Until its attempt is
// over, that entry stands in every write, so a write for another entry never takes it back.
class SshConfigSync {
public:
    // The list as saved (main thread).
    void follow(const QList<Server>& servers);
    // Writes ssh_config from the latest list, with `replacing` in place of the entry of the same id (and
    // with the entries of other attempts under way in place of theirs).
    Outcome<> write(const std::optional<Server>& replacing = std::nullopt);
    // The attempt for this entry is over: the saved entry stands again.
    void settle(const QUuid& id);

private:
    std::mutex mutex;
    QList<Server> latest;
    QHash<QUuid, Server> underWay;
};
