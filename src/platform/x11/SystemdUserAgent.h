#pragma once

#include "platform/LaunchServices.h"

#include <functional>
#include <optional>

// The keep-alive agent as a systemd user unit that restarts tarnel when it dies.
class SystemdUserAgent final : public KeepAliveAgent {
public:
    static constexpr const char* unitName = "tarnel-keepalive.service";

    // `systemctl` runs `systemctl --user <args>`.
    using Systemctl = std::function<Outcome<>(const QStringList& args)>;

    SystemdUserAgent(QString program, Systemctl systemctl, QString configHome = {});

    bool isRegistered() const override;
    Outcome<> registerAgent() override;
    Outcome<> unregisterAgent() override;

    QString unitPath() const;
    static std::optional<QString> unitText(const QString& program);
    // Runs the real systemctl through the process runner.
    static Systemctl realSystemctl();

private:
    QString program;
    Systemctl systemctl;
    QString configHome;
};
