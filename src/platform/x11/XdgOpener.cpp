#include "platform/x11/XdgOpener.h"

#include "platform/ProcessRunner.h"

#include <QStandardPaths>

bool XdgOpener::open(const QUrl& url)
{
    // Without xdg-open nothing would open, and Qt would only print an English line on the terminal.
    const QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (program.isEmpty())
        return false;
    return ProcessRunner::startDetached(program, {url.isLocalFile() ? url.toLocalFile() : url.toString(QUrl::FullyEncoded)});
}
