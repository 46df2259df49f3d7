#pragma once

#include "platform/LaunchServices.h"

#include <functional>

// The keep-alive agent as a systemd user unit that restarts tarnel when it dies.
class SystemdUserAgent final : public KeepAliveAgent {
public:
    static constexpr const char* unitName = "tarnel-keepalive.service";

    // `systemctl` runs `systemctl --user <args>` and answers an error text, or none on success.
    using Systemctl = std::function<std::optional<QString>(const QStringList& args)>;

    SystemdUserAgent(QString program, Systemctl systemctl, QString configHome = {});

    bool isRegistered() const override;
    std::optional<QString> registerAgent() override;
    std::optional<QString> unregisterAgent() override;

    QString unitPath() const;
    static std::optional<QString> unitText(const QString& program);
    // Runs the real systemctl through the process runner.
    static Systemctl realSystemctl();

private:
    QString program;
    Systemctl systemctl;
    QString configHome;
};
