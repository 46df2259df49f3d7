#pragma once

#include "platform/Keyboard.h"
#include "state/Server.h"
#include "state/Settings.h"
#include "state/Shot.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

class ActiveWindow;
class Flash;
class ShotStore;

// The paste hot key: puts "shotN: <path> " into the frontmost terminal, the path being where that shot
// lives on the machine the terminal is connected to (read from the window title), or the local path.
class PasteController : public QObject {
    Q_OBJECT
public:
    static constexpr int keyReleaseWaitMs = 1500;
    static constexpr int uploadWaitMs = 8000;

    PasteController(ShotStore& shots, ActiveWindow& activeWindow, Keyboard& keyboard, Flash& flash,
                    QObject* parent = nullptr);

    // Hooks set by the owner; every one must be set before the first press.
    std::function<Settings()> settings;
    std::function<QList<Server>()> servers;
    // The shot's path on a destination; none when the destination does not know its directory yet.
    std::function<std::optional<QString>(const Server& destination, const QString& shotName)> remotePath;
    // Uploads the shot to the destination and calls `done` once, on the main thread, with the outcome.
    std::function<void(const QString& shotName, const Server& destination,
                       std::function<void(const Upload& outcome)> done)> upload;
    // Puts text on the clipboard without it counting as a copied screenshot.
    std::function<void(const QString& text)> copyText;

    void hotkeyPressed();
    bool isRunning() const { return running; }
    // Shorter waits, for tests.
    void setWaits(int uploadMs, int keyReleaseMs);

    // The destination a paste into a window with this title goes to; none: the local path.
    static std::optional<Server> destinationFor(const QString& title, const QList<Server>& servers,
                                                const Settings& settings);
    // tokenFormat with "%d" -> number and "%s" -> path, in one pass (a "%s" inside the path stays).
    static QString token(const QString& format, qint64 number, const QString& path);
    static bool isTerminal(const QString& instanceName, const QString& className, const QStringList& terminals);
    // The paste key the terminal has: Shift+Insert (primary selection) for xterm and its kin, which bind no
    // Ctrl+Shift+V; Ctrl+Shift+V for the others.
    static Keyboard::PasteKey pasteKeyFor(const QString& instanceName, const QString& className);
    // A listed destination that is not set up or has sync off, whose keyword the title names (and no ready
    // one names a longer one): the terminal is on a machine that does not have the shot.
    static std::optional<Server> unreadyServerFor(const QString& title, const QList<Server>& servers);

Q_SIGNALS:
    // After each press has been dealt with, whatever the outcome.
    void finished();

private:
    struct Paste {
        quint64 window = 0;
        Keyboard::PasteKey pasteKey = Keyboard::PasteKey::controlShiftV;
        Shot shot;
        std::optional<Server> destination;
        Settings settings;
        bool stillUploading = false;
    };

    void waitForUpload();
    void uploadDone(quint64 generation, const Upload& outcome);
    void waitForKeyRelease();
    void deliver();
    void keysSent(const Keyboard::Result& result, const QString& text, const QString& stillUploading);
    void pasted();
    void finish();
    QString label() const;

    ShotStore& shots;
    ActiveWindow& activeWindow;
    Keyboard& keyboard;
    Flash& flash;

    bool running = false;
    quint64 generation = 0; // tells late upload answers of an earlier paste apart
    Paste paste;
    QTimer uploadTimer;
    QTimer keyTimer;
    int keyWaitedMs = 0;
    int keyWaitLimitMs = keyReleaseWaitMs;
};
