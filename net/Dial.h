#pragma once

#include <QObject>
#include <QTimer>

class LineReader;
class PlainStream;
class Splice;

// `dial`: ssh's proxy command. Asks the running `serve` (over <state>/dial.sock) for a tunnel to the
// device's ssh port and copies it to and from standard input and output. Nothing but tunnel bytes goes
// to standard output; a failure is one line on standard error.
class Dial : public QObject {
    Q_OBJECT
public:
    static constexpr int limitMs = 15000;

    // Starts at once; the event loop ends with the exit status.
    Dial(const QString& stateDir, const QString& device, int port, QObject* parent = nullptr);

private:
    void fail(const QString& text);
    void connected(const QByteArray& rest);

    PlainStream* socket = nullptr;
    PlainStream* stdio = nullptr;
    LineReader* reader = nullptr;
    Splice* splice = nullptr;
    QTimer limit;
    bool over = false;
};
