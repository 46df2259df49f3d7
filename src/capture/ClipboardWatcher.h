#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>

#include "platform/ClipboardImage.h"

class Clipboard;

// How often the watcher polls, and how long it ignores changes after it was made; tests shorten these.
struct ClipboardIntervals {
    std::chrono::milliseconds poll{500};
    std::chrono::milliseconds startupQuiet{2000};
};

// Notices a new image on the clipboard and hands it on. A change is taken at once while watching is on (the
// poll catches what a notice missed); it is dropped while paused, while suppressed, while the content is
// our own, and during the quiet time after creation. What the clipboard holds when watching starts counts
// as seen: a copy made while watching was off is never taken. A clipboard that announces every change is
// looked at once a poll interval after watching starts, and otherwise only at its notices.
class ClipboardWatcher : public QObject {
    Q_OBJECT
public:
    using Intervals = ClipboardIntervals;

    explicit ClipboardWatcher(Clipboard& clipboard, Intervals intervals = {}, QObject* parent = nullptr);

    // The gate: watching on or off. Starting takes the clipboard's content as it is now as seen.
    void start();
    void stop();
    bool isWatching() const { return watching; }

    bool isPaused() const { return paused; }
    // True during the quiet time after creation.
    bool startingUp() const { return age.elapsed() < quietUntil; }
    // True while a change would be dropped: paused, suppressed, starting up, or the content is our own.
    bool ignoresChangesNow() const;
    void setPaused(bool on) { paused = on; }

    // Drops every change for the next `seconds` (the app is about to write the clipboard itself).
    void suppress(double seconds);

    // Receives the first image of a change (perhaps still to be decoded), with the source "剪贴板".
    std::function<void(const ClipboardImage& image, const QString& source)> onCapture;
    // Receives the ready message when a change offered an image that could not be read.
    std::function<void(const QString& message)> onUnreadable;

private:
    void check();

    Clipboard& clipboard;
    QTimer poll;
    QElapsedTimer age; // monotonic: a clock set back must not stretch the windows
    qint64 quietUntil = 0;
    qint64 suppressedUntil = 0;
    quint64 seen = 0;
    bool paused = false;
    bool watching = false;
};
