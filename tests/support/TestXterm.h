#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real xterm (UTF-8) whose shell runs `cat` on a raw terminal into a file, so every typed byte lands there
// at once. Started focused; for tests under an X server with a window manager.
class TestXterm {
public:
    explicit TestXterm(const QString& title);
    ~TestXterm();

    // Starts it and waits until it is the active window with `cat` reading; false on time-out.
    bool start();
    quint64 windowId() const { return window; }
    // Makes it the active window again (after another window took the focus).
    bool activate();
    // The bytes received so far.
    QByteArray received() const;
    // Waits until at least `size` bytes arrived (or the time-out) and returns them.
    QByteArray waitFor(qsizetype size, int timeoutMs = 5000) const;

private:
    QString title;
    QTemporaryDir dir;
    QProcess process;
    quint64 window = 0;
};

// Runs xdotool with the arguments and waits for it; true when it succeeded.
bool xdotool(const QStringList& arguments);
// Runs xdotool and answers what it printed (trimmed); empty when it failed.
QString xdotoolOutput(const QStringList& arguments);
// Saves a picture of the whole screen (ImageMagick's import) as `path`, making its folder.
bool saveScreen(const QString& path);
// True when DISPLAY is set and the given programs are installed.
bool haveX11Tools(const QStringList& programs);
// The same, and this process draws on that X server (the xcb platform) rather than offscreen.
bool onX11WithTools(const QStringList& programs);
