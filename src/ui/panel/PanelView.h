#pragma once

#include "ui/panel/PanelModel.h"

#include <QWidget>
#include <functional>

class AppState;
class CoalescedRefresh;
class DevicesPage;
struct DeviceCommands;
class LinkManager;
class GateBar;
class PanelHeader;
class QStackedWidget;
class ServersPage;
class ShotsPage;
class ThumbnailCache;

// The panel's content: header, the account gate bar while the gate is closed, and the page chosen in the
// picker. It keeps no state of its own: every refresh reads the hub and its services again, coalesced to
// one per turn of the event loop, and changes only what differs.
class PanelView : public QWidget {
    Q_OBJECT
public:
    PanelView(AppState& app, std::function<void()> closePanel, QWidget* parent = nullptr);
    ~PanelView() override;

    // What the device link reports; while unset the link is unavailable and there are no peers.
    std::function<PanelLink()> link;
    static PanelLink linkFacts(const LinkManager& link);
    // Points the devices page's commands at the device link.
    static void wireDeviceCommands(DeviceCommands& commands, LinkManager& link);

    PanelFacts facts() const;
    // The view is never smaller than this, nor than its content needs.
    void setLeastSize(const QSize& size);
    QSize minimumSizeHint() const override;
    // Runs a pending refresh now.
    void flush();
    ShotsPage* shotsPage() const { return shots; }
    ServersPage* serversPage() const { return servers; }
    DevicesPage* devicesPage() const { return devices; }
    GateBar* gateBar() const { return gate; }
    ThumbnailCache& thumbnails() const { return *thumbnailCache; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void refresh();
    // Return outside a text field: the page's default action.
    void pressDefault();

    AppState& app;
    std::unique_ptr<ThumbnailCache> thumbnailCache;
    PanelHeader* header;
    GateBar* gate;
    QWidget* gateDivider;
    QStackedWidget* pages;
    ShotsPage* shots;
    ServersPage* servers;
    DevicesPage* devices;
    CoalescedRefresh* refresher;
    QSize least;
};
