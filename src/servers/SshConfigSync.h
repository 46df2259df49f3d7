#pragma once

#include "state/Outcome.h"
#include "state/Server.h"

#include <QList>
#include <mutex>
#include <optional>

// Keeps ssh_config in step with the saved list. The main thread hands over every saved list; connect
// workers write the file too, with their own entry as they have it at that moment.
class SshConfigSync {
public:
    // The list as saved (main thread).
    void follow(const QList<Server>& servers);
    // Writes ssh_config from the latest list, with `replacing` in place of the entry of the same id.
    Outcome<> write(const std::optional<Server>& replacing = std::nullopt);

private:
    std::mutex mutex;
    QList<Server> latest;
};
