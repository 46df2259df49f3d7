#include "support/PrivateDisplay.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

PrivateDisplay::~PrivateDisplay()
{
    if (windowManager.state() != QProcess::NotRunning) {
        windowManager.terminate();
        windowManager.waitForFinished(5000);
    }
    if (server.state() != QProcess::NotRunning) {
        server.terminate();
        server.waitForFinished(5000);
    }
}

bool PrivateDisplay::start()
{
    for (int n = 200; n < 260; ++n) {
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(n);
        if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)) || QFile::exists(socket))
            continue;
        server.start(QStringLiteral("Xvfb"), {QStringLiteral(":%1").arg(n), QStringLiteral("-screen"), QStringLiteral("0"),
                                              QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                                              QStringLiteral("tcp"), QStringLiteral("-ac")});
        if (!server.waitForStarted(5000))
            return false;
        // Another test may have taken the number in between: Xvfb then leaves at once.
        const QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && server.state() == QProcess::Running && !QFile::exists(socket))
            server.waitForFinished(50);
        if (server.state() == QProcess::Running && QFile::exists(socket)) {
            display = QStringLiteral(":%1").arg(n);
            return true;
        }
        server.kill();
        server.waitForFinished(5000);
    }
    return false;
}

bool PrivateDisplay::startWindowManager()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    windowManager.setProcessEnvironment(environment);
    windowManager.start(QStringLiteral("jwm"), {});
    if (display.isEmpty() || !windowManager.waitForStarted(5000))
        return false;
    // A window manager names its check window on the root window once it manages the screen.
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && windowManager.state() == QProcess::Running) {
        QProcess property;
        property.start(QStringLiteral("xprop"), {QStringLiteral("-display"), display, QStringLiteral("-root"),
                                                 QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
        if (property.waitForFinished(5000) && property.readAllStandardOutput().contains("window id"))
            return true;
        windowManager.waitForFinished(50);
    }
    return false;
}
