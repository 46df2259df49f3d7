#pragma once

#include <QUrl>

// Opens a file, a folder or a web address with the desktop's default application.
class DesktopOpener {
public:
    virtual ~DesktopOpener() = default;
    // False when the desktop could not hand it to any application.
    virtual bool open(const QUrl& url) = 0;
};
