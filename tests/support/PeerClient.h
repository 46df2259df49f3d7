#pragma once

#include <QByteArray>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

// A blocking TLS connection to a tarnel-net peer port from 127.0.0.1, under a certificate from DeviceKeys:
// a device of the account as the test plays it, or a stranger. Every wait ends after `timeoutMs`.
class PeerClient {
public:
    PeerClient(SSL_CTX* context, int port, int timeoutMs = 5000);
    ~PeerClient();
    PeerClient(const PeerClient&) = delete;
    PeerClient& operator=(const PeerClient&) = delete;

    bool handshaken() const { return ready; }
    // Sends all of `bytes`; false once the connection failed or the node closed it.
    bool send(const QByteArray& bytes);
    // The node's next line without its line feed; empty when none came in time or the connection ended.
    QByteArray readLine();

    // Shakes hands, says `hello` and reads until the node ends the connection: true when it ended it
    // without a word, as it does with a certificate it refused.
    static bool knock(SSL_CTX* context, int port, const QByteArray& hello);

private:
    int fd = -1;
    SSL* ssl = nullptr;
    bool ready = false;
    QByteArray buffer;
};
