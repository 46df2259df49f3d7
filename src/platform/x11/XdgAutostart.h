#pragma once

#include "platform/LaunchServices.h"

#include <optional>

// The login item as an XDG autostart entry: ~/.config/autostart/tarnel.desktop.
class XdgAutostart final : public LoginItem {
public:
    explicit XdgAutostart(QString program, QString configHome = {});

    bool isEnabled() const override;
    Outcome<> setEnabled(bool enabled) override;

    QString filePath() const;
    static std::optional<QString> desktopEntry(const QString& program);

private:
    QString program;
    QString configHome;
};
