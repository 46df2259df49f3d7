#pragma once

#include <QString>
#include <QUrl>
#include <functional>

// Opens a file, a folder or a web address with the desktop's default application.
class DesktopOpener {
public:
    virtual ~DesktopOpener() = default;
    // False when the desktop could not hand it to any application.
    virtual bool open(const QUrl& url) = 0;
    // Called on the main thread when a hand-over that started fails after all (no application takes it),
    // with why.
    std::function<void(const QUrl& url, const QString& why)> onFailure;
};
