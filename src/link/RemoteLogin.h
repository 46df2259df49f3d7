#pragma once

#include <QString>
#include <QStringList>

// This machine's ssh server, which the other machines of the account log in to.
class RemoteLogin {
public:
    // The way to switch the server on where no settings panel can be opened.
    static const QString enableCommand;

    // Whether a server accepts a TCP connection on 127.0.0.1 at `port` within the time. Blocking.
    static bool sshdListening(int timeoutMs, quint16 port = 22);
    // Opens the desktop's sharing panel, where the ssh server is switched on; false when there is none.
    // `searchPaths` replaces PATH for finding it (tests).
    static bool openSharingSettings(const QStringList& searchPaths = {});
    // Whether the desktop has that panel.
    static bool hasSharingSettings(const QStringList& searchPaths = {});
};
