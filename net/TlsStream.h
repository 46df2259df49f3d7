#pragma once

#include "Stream.h"

#include <functional>

class QSocketNotifier;
typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

// TLS 1.3 over a connected socket, either end of the handshake. The peer's certificate is accepted only
// when `pin` accepts its SHA-256 fingerprint; anything else fails the handshake. Half-close sends
// close_notify and keeps reading.
class TlsStream : public Stream {
    Q_OBJECT
public:
    enum class Role { Client, Server };
    using Pin = std::function<bool(const QString& fingerprint)>;

    // Takes ownership of the descriptor.
    TlsStream(int fd, SSL_CTX* ctx, Role role, Pin pin, QObject* parent = nullptr);
    ~TlsStream() override;

    bool isEstablished() const { return established_; }
    QString peerFingerprint() const { return peer; }

    QByteArray read(qint64 max) override;
    bool atEnd() const override { return eof; }
    void write(const QByteArray& bytes) override;
    qint64 pendingWrite() const override { return out.size() - outOffset; }
    void finishWrite() override;
    void close() override;

    // For the verify callback.
    bool checkPeer(const QString& fingerprint);

Q_SIGNALS:
    void established();

private:
    void pump();
    void handshake();
    void flush();
    void sendShutdown();
    void updateNotifiers();
    void fail(const QString& reason);
    void shut();

    int fd;
    SSL* ssl = nullptr;
    Pin pin;
    QString peer;
    QSocketNotifier* readable = nullptr;
    QSocketNotifier* writable = nullptr;
    QByteArray out;
    qint64 outOffset = 0;
    bool established_ = false;
    bool wantRead = false;   // someone waits for the socket to become readable
    bool wantWrite = false;  // someone waits for the socket to become writable
    bool readerWaits = true; // the reader came back empty-handed
    bool eof = false;
    bool finishing = false;
    bool shutdownSent = false;
    bool dead = false;
    bool silent = false;
    bool pumping = false;
};
