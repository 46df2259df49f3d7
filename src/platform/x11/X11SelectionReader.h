#pragma once

#include "state/Outcome.h"

#include <QByteArray>
#include <QHash>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>

struct xcb_connection_t;

// Reads the CLIPBOARD selection in one type over an X connection of its own (opened once, kept until
// destruction) and an invisible window of its own. read() blocks the calling thread until the content has
// arrived, however large (INCR transfers included): meant for a worker. One read at a time.
class X11SelectionReader {
public:
    // A read fails when the owner sends nothing for `patience`, or more than `maxBytes`.
    explicit X11SelectionReader(std::chrono::milliseconds patience, qint64 maxBytes);
    ~X11SelectionReader();
    X11SelectionReader(const X11SelectionReader&) = delete;
    X11SelectionReader& operator=(const X11SelectionReader&) = delete;

    // The content in `type` (a MIME type such as "image/png"); a failure with a short reason when the owner
    // refuses, stops answering, sends too much, or the reader was cancelled.
    Outcome<QByteArray> read(const QByteArray& type);
    // Ends a read in progress and every later one at once (before quitting). Any thread.
    void cancel();

private:
    struct Property {
        quint32 type = 0;
        QByteArray bytes;
    };

    bool connected() const;
    void createWindow();
    quint32 atom(const QByteArray& name);
    Outcome<QByteArray> transfer(quint32 target);
    Outcome<QByteArray> receiveIncrements(const QByteArray& header);
    // The property's whole value, deleted from the window; none when the server did not answer.
    std::optional<Property> take();
    Outcome<QByteArray> stopped() const;
    Outcome<QByteArray> tooLarge() const;

    const std::chrono::milliseconds patience;
    const qint64 maxBytes;
    std::mutex busy; // one read at a time over the one window
    xcb_connection_t* connection = nullptr;
    quint32 root = 0;
    quint32 window = 0;
    quint32 clipboard = 0;
    quint32 incr = 0;
    quint32 property = 0;
    QHash<QByteArray, quint32> atoms;
    int wake = -1; // an eventfd that cancel() signals
    std::atomic<bool> cancelled = false;
};
