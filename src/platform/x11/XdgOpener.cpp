#include "platform/x11/XdgOpener.h"

#include "platform/ProcessRunner.h"

#include <QStandardPaths>

bool XdgOpener::open(const QUrl& url)
{
    // Without xdg-open nothing would open, and Qt would only print an English line on the terminal.
    const QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (program.isEmpty())
        return false;
    // Without a desktop environment xdg-open runs the application itself and ends with it: only its
    // end tells whether anything opened.
    ProcessRunner::startWatched(program, {url.isLocalFile() ? url.toLocalFile() : url.toString(QUrl::FullyEncoded)},
        [failed = onFailure, url](int status) {
            if (status == 0 || !failed)
                return;
            if (status == 2)
                failed(url, QStringLiteral("没有这个文件或目录"));
            else if (status == 3)
                failed(url, QStringLiteral("xdg-open 找不到能打开它的程序（这台电脑上没有文件管理器或看图程序？）"));
            else
                failed(url, QStringLiteral("xdg-open 出错（退出码 %1）").arg(status));
        });
    return true;
}
