#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// A byte stream over a non-blocking descriptor, driven by the event loop. Reads are pulled: read() gives
// what is there now (empty when nothing is), and readyRead() says when to try again. Writes are buffered;
// written() says the buffer shrank, so a copier can hold back while the far side is slow.
class Stream : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual QByteArray read(qint64 max) = 0;
    virtual bool atEnd() const = 0; // the far side finished writing and everything was read
    virtual void write(const QByteArray& bytes) = 0;
    virtual qint64 pendingWrite() const = 0;
    virtual void finishWrite() = 0; // half-close once the buffer is out
    virtual void close() = 0;       // no signal after this

Q_SIGNALS:
    void readyRead();
    void written();
    void broken(const QString& reason); // the connection failed; nothing more comes
};
