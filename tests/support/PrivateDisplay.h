#pragma once

#include <QProcess>
#include <QString>

// An Xvfb of a test's own (no window manager, open to every local user), for programs whose windows must
// not meet those of the shared test display. Stopped when destroyed.
class PrivateDisplay {
public:
    ~PrivateDisplay();
    // Starts on the first free display number; false when Xvfb could not start.
    bool start();
    QString name() const { return display; } // ":N"
    // Starts jwm on it (for programs that activate windows) and waits until it manages the screen.
    bool startWindowManager();

private:
    QProcess server;
    QProcess windowManager;
    QString display;
};
