#pragma once

#include "platform/DesktopOpener.h"

// Opening through the desktop's default applications (xdg-open and the MIME associations). False when
// xdg-open is not installed or could not be started.
class XdgOpener final : public DesktopOpener {
public:
    bool open(const QUrl& url) override;
};
