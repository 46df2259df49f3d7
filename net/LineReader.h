#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QTimer>

class Stream;

// Reads JSON lines from a stream: every line as one object (empty when the line is not one).
// Bytes after a line are kept for whoever takes the stream over.
class LineReader : public QObject {
    Q_OBJECT
public:
    // `limit`: the longest line; `timeoutMs` > 0 ends the stream when no line arrives in time.
    // `initial`: bytes already read from the stream.
    LineReader(Stream* stream, qint64 limit, int timeoutMs, QObject* parent = nullptr, const QByteArray& initial = {});

    // Stops reading; what was read past the last line.
    QByteArray detach();

Q_SIGNALS:
    void message(const QJsonObject& object);
    void failed(const QString& reason); // too long, the end, a broken stream or the time-out

private:
    void readMore();

    Stream* stream;
    qint64 limit;
    QByteArray buffer;
    QTimer timer;
    bool detached = false;
};
