#include "support/PeerClient.h"

#include <arpa/inet.h>
#include <csignal>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <unistd.h>

PeerClient::PeerClient(SSL_CTX* context, int port)
{
    ::signal(SIGPIPE, SIG_IGN); // a write after the node closed fails instead of ending the test
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in address{AF_INET, htons(quint16(port)), {htonl(INADDR_LOOPBACK)}, {}};
    ssl = SSL_new(context);
    SSL_set_fd(ssl, fd);
    ready = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && SSL_connect(ssl) == 1;
    ERR_clear_error();
}

PeerClient::~PeerClient()
{
    SSL_free(ssl);
    ::close(fd);
}

bool PeerClient::send(const QByteArray& bytes)
{
    size_t done = 0;
    size_t written = 0; // the certificates' contexts allow partial writes
    while (ready && done < size_t(bytes.size()) && SSL_write_ex(ssl, bytes.constData() + done, bytes.size() - done, &written))
        done += written;
    ERR_clear_error();
    return done == size_t(bytes.size());
}

QByteArray PeerClient::readLine()
{
    char chunk[4096];
    size_t got = 0;
    while (ready && !buffer.contains('\n') && SSL_read_ex(ssl, chunk, sizeof chunk, &got))
        buffer.append(chunk, qsizetype(got));
    ERR_clear_error();
    const qsizetype end = buffer.indexOf('\n');
    const QByteArray line = buffer.left(std::max<qsizetype>(end, 0));
    buffer.remove(0, end + 1);
    return line;
}

bool PeerClient::knock(SSL_CTX* context, int port, const QByteArray& hello)
{
    PeerClient client(context, port);
    const bool said = client.send(hello) && !client.readLine().isEmpty();
    const bool ended = client.ready && SSL_get_error(client.ssl, 0) != SSL_ERROR_WANT_READ; // not timed out
    ERR_clear_error();
    return ended && !said;
}
