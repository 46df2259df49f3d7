#include "platform/x11/XdgOpener.h"

#include <QDesktopServices>

bool XdgOpener::open(const QUrl& url) { return QDesktopServices::openUrl(url); }
