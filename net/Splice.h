#pragma once

#include <QObject>

class Stream;

// Copies two streams into each other until both directions ended, holding back a side whose far end is
// slow. An end of input is passed on as a half-close. Owns neither stream; closes both when done.
class Splice : public QObject {
    Q_OBJECT
public:
    // `toB`/`toA`: bytes already read from the other side (after a hello line) to pass on first.
    Splice(Stream* a, Stream* b, const QByteArray& toB, const QByteArray& toA, QObject* parent = nullptr);

    // Ends both directions now (the path under them is gone).
    void cut(const QString& reason) { finish(reason); }

    static constexpr qint64 chunk = 256 * 1024;
    static constexpr qint64 highWater = 1024 * 1024;

Q_SIGNALS:
    // Everything `from` sent has reached the other side, and the other side was half-closed.
    void ended(Stream* from);
    void finished(const QString& reason); // both streams are closed now

private:
    void move(Stream* from, Stream* to, bool& done);
    void check();
    void finish(const QString& reason);

    Stream* a;
    Stream* b;
    bool aDone = false;
    bool bDone = false;
    bool over = false;
};
