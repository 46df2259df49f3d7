#pragma once

#include <QString>
#include <optional>

// The panel's pages, stored by name in Settings::lastPanelTab.
enum class PanelTab { shots, servers, devices };

inline QString panelTabName(PanelTab tab)
{
    switch (tab) {
    case PanelTab::shots: return QStringLiteral("shots");
    case PanelTab::servers: return QStringLiteral("servers");
    case PanelTab::devices: return QStringLiteral("devices");
    }
    return QStringLiteral("shots");
}

// Exact and case-sensitive; anything else gives none.
inline std::optional<PanelTab> panelTabFrom(const QString& name)
{
    for (PanelTab tab : {PanelTab::shots, PanelTab::servers, PanelTab::devices})
        if (panelTabName(tab) == name)
            return tab;
    return std::nullopt;
}
