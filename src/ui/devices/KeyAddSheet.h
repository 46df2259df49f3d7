#pragma once

#include "link/LinkStatus.h"
#include "ui/devices/CommandSheet.h"

class LinkManager;

// Lets another machine log in to this one with its own key: hands the user the shell line that appends
// that key to ~/.ssh/authorized_keys, and ticks itself off when the device link finds the key there.
class KeyAddSheet : public CommandSheet {
    Q_OBJECT
public:
    KeyAddSheet(const PeerDevice& peer, LinkManager& link, const DeviceCommands& commands, Clipboard& clipboard,
        QWidget* parent = nullptr);

    const PeerDevice& peer() const { return who; }
    void refresh();
    // The line that goes on the clipboard (the command and one line feed).
    QString copiedText() const;
    bool done() const;

private:
    void copyCommand() override;

    PeerDevice who;
    LinkManager& link;
};
