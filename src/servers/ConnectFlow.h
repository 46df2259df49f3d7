#pragma once

#include "state/Outcome.h"
#include "delivery/ReceiverClient.h"
#include "platform/ProcessRunner.h"
#include "state/Server.h"

#include <functional>
#include <optional>

// One connection attempt for one destination: find a login name (probe), put the receiver and the
// restricted key line on the server (install), then ask the receiver over the daily channel (check).
// Blocking: it runs on a worker and reports through hooks; the caller owns all shared state.
class ConnectFlow {
public:
    enum class Stage { probing, installing, checking };
    static QString stageText(Stage stage);

    struct Request {
        Server server;
        std::optional<QString> user;
        std::optional<QString> password;
    };
    struct Hooks {
        std::function<void(Stage)> stage;
        // Writes the generated ssh_config with this destination as given.
        std::function<Outcome<>(const Server&)> writeConfig;
        std::function<Outcome<ReceiverClient::Ping>(const Server&)> ping; // ReceiverClient::ping when empty
        // Another entry already set up for the account the destination resolved to; none when it is the only one.
        std::function<std::optional<Server>(const Server&)> sameAccount;
    };
    struct Connected {
        QString user;
        std::optional<QString> hostname;
    };
    struct Result {
        Server server; // the record as the attempt left it (probe, setup, login name, keywords)
        Outcome<Connected> outcome = Outcome<Connected>::failure(QString());
        bool cancelled = false;
    };

    static Result run(const Request& request, const Hooks& hooks, const ProcessRunner::CancelToken& cancel);

    // TARNEL_RECEIVER_VERSION of the receiver inside this program; 0 when it cannot be read.
    static qint64 bundledReceiverVersion();
};
