#pragma once

#include <QString>
#include <optional>

// The scripts and the receiver that travel inside the program (Qt resources under ":/bundled/").
class EmbeddedScripts {
public:
    // "install.sh", "install-device.sh", "uninstall.sh", "rules.sh" or "tarnel-receiver"; none when absent.
    static std::optional<QString> load(const QString& name);
};
