#pragma once

#include "state/Outcome.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// The client side of the link program's control socket: one connection per request, one line out, one
// line back. Blocking: run it on the link queue, never on the main thread. The time-out bounds the whole
// exchange, so a peer that trickles bytes cannot hold the queue.
class UnixSocket {
public:
    static constexpr int maxPathBytes = 103;
    static constexpr qsizetype maxReplyBytes = 4 * 1024 * 1024;

    // Sends `line` and a line feed; the reply without its line feed (bytes after it are dropped).
    static Outcome<QByteArray> requestLine(const QString& path, const QByteArray& line, double timeoutSeconds);
    // The same with a JSON object each way.
    static Outcome<QJsonObject> request(const QString& path, const QJsonObject& json, double timeoutSeconds);
};
