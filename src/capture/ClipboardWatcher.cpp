#include "capture/ClipboardWatcher.h"

#include "platform/Clipboard.h"

#include <cmath>

ClipboardWatcher::ClipboardWatcher(Clipboard& clipboard, Intervals intervals, QObject* parent)
    : QObject(parent), clipboard(clipboard), quietUntil(intervals.startupQuiet.count()), seen(clipboard.changeCount())
{
    age.start();
    poll.setInterval(intervals.poll);
    poll.setSingleShot(clipboard.announcesChanges());
    connect(&poll, &QTimer::timeout, this, &ClipboardWatcher::check);
    // Read in the same turn as the notice: the program that copied may exit right after.
    connect(&clipboard, &Clipboard::changed, this, [this] {
        if (isWatching())
            check();
    });
}

void ClipboardWatcher::start()
{
    if (!watching)
        seen = clipboard.changeCount();
    watching = true;
    poll.start();
}

void ClipboardWatcher::stop()
{
    watching = false;
    poll.stop();
}

void ClipboardWatcher::suppress(double seconds)
{
    if (!(seconds > 0))
        return;
    const qint64 until = age.elapsed() + qint64(std::ceil(seconds * 1000));
    suppressedUntil = std::max(suppressedUntil, until);
}

bool ClipboardWatcher::ignoresChangesNow() const
{
    const qint64 now = age.elapsed();
    return paused || now < quietUntil || now < suppressedUntil || clipboard.ownsClipboard();
}

void ClipboardWatcher::check()
{
    const quint64 count = clipboard.changeCount();
    if (count == seen)
        return;
    seen = count;
    if (ignoresChangesNow())
        return;
    const Outcome<ClipboardImage> read = clipboard.readImage();
    if (!read.ok()) {
        if (onUnreadable)
            onUnreadable(read.failure());
    } else if (!read.value().isNull() && onCapture) {
        onCapture(read.value(), QStringLiteral("剪贴板"));
    }
}
