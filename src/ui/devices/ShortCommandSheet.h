#pragma once

#include "state/Outcome.h"
#include "ui/devices/CommandSheet.h"

class LinkManager;

// Makes "ssh <alias>" work in any terminal: hands the user the shell line that puts an Include of the
// device ssh configuration at the top of ~/.ssh/config, and shows when the device link finds it there.
class ShortCommandSheet : public CommandSheet {
    Q_OBJECT
public:
    ShortCommandSheet(LinkManager& link, const DeviceCommands& commands, Clipboard& clipboard,
        QWidget* parent = nullptr);

    void refresh();
    // The command and one line feed, or why there is none.
    Outcome<QString> copiedText() const;

private:
    void copyCommand() override;

    LinkManager& link;
    StatusLabel* refusal;
};
