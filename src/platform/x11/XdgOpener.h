#pragma once

#include "platform/DesktopOpener.h"

// Opening through the desktop's default applications (xdg-open and the MIME associations). False when
// xdg-open is not installed; its failure after the start (no application for it, exit status 3) goes to
// onFailure.
class XdgOpener final : public DesktopOpener {
public:
    bool open(const QUrl& url) override;
};
