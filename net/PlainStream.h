#pragma once

#include "Stream.h"

class QSocketNotifier;

// A stream over a socket, or over a pair of pipes (standard input and output).
class PlainStream : public Stream {
    Q_OBJECT
public:
    // Takes ownership of the descriptors and makes them non-blocking.
    explicit PlainStream(int fd, QObject* parent = nullptr) : PlainStream(fd, fd, parent) {}
    PlainStream(int readFd, int writeFd, QObject* parent = nullptr);
    ~PlainStream() override;

    QByteArray read(qint64 max) override;
    bool atEnd() const override { return eof; }
    void write(const QByteArray& bytes) override;
    qint64 pendingWrite() const override { return out.size() - outOffset; }
    void finishWrite() override;
    void close() override;

private:
    void flush();
    void fail(const QString& reason);
    void shut();

    int in;
    int outFd;
    QSocketNotifier* readable = nullptr;
    QSocketNotifier* writable = nullptr;
    QByteArray out;
    qint64 outOffset = 0;
    bool eof = false;
    bool finishing = false;
    bool finished = false;
    bool dead = false;
    bool silent = false;
};
