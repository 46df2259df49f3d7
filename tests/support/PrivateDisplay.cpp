#include "support/PrivateDisplay.h"

#include <QDeadlineTimer>

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
    // Xvfb picks a free number itself and writes it once it listens: two tests starting together never
    // meet on one number.
    server.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                          QStringLiteral("0"), QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                                          QStringLiteral("tcp"), QStringLiteral("-ac")});
    if (!server.waitForStarted(5000))
        return false;
    QByteArray written;
    const QDeadlineTimer deadline(10000);
    while (!written.contains('\n') && !deadline.hasExpired() && server.state() == QProcess::Running) {
        server.waitForReadyRead(50);
        written += server.readAllStandardOutput();
    }
    bool ok = false;
    const int number = written.trimmed().toInt(&ok);
    if (!ok) {
        server.kill();
        server.waitForFinished(5000);
        return false;
    }
    display = QStringLiteral(":%1").arg(number);
    return true;
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
