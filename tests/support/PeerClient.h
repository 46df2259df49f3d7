#pragma once

#include <QByteArray>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

// A blocking TLS connection to a tarnel-net peer port on 127.0.0.1 under a certificate from DeviceKeys:
// a device of the account as the test plays it, or a stranger. Each wait ends after 5 s.
class PeerClient {
public:
    PeerClient(SSL_CTX* context, int port);
    ~PeerClient();

    // False once the connection failed or the node closed it.
    bool send(const QByteArray& bytes);
    // The node's next line without its line feed; empty when none came.
    QByteArray readLine();
    // Shakes hands, says `hello` and reads on: true when the node ended the connection without a word.
    static bool knock(SSL_CTX* context, int port, const QByteArray& hello);

private:
    int fd = -1;
    SSL* ssl = nullptr;
    bool ready = false;
    QByteArray buffer;
};
