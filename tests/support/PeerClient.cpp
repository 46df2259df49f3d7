#include "support/PeerClient.h"

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

PeerClient::PeerClient(SSL_CTX* context, int port, int timeoutMs)
{
    ::signal(SIGPIPE, SIG_IGN); // a write after the node closed fails instead of ending the test
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return;
    ssl = SSL_new(context);
    SSL_set_fd(ssl, fd);
    ready = SSL_connect(ssl) == 1;
    ERR_clear_error();
}

PeerClient::~PeerClient()
{
    SSL_free(ssl);
    if (fd >= 0)
        ::close(fd);
}

bool PeerClient::send(const QByteArray& bytes)
{
    size_t done = 0;
    size_t written = 0;
    while (ready && done < size_t(bytes.size()) &&
           SSL_write_ex(ssl, bytes.constData() + done, size_t(bytes.size()) - done, &written) == 1)
        done += written; // the certificates' contexts allow partial writes
    ERR_clear_error();
    return done == size_t(bytes.size());
}

QByteArray PeerClient::readLine()
{
    char chunk[4096];
    size_t got = 0;
    while (ready && !buffer.contains('\n') && SSL_read_ex(ssl, chunk, sizeof chunk, &got) == 1)
        buffer.append(chunk, qsizetype(got));
    ERR_clear_error();
    const qsizetype end = buffer.indexOf('\n');
    if (end < 0)
        return {};
    const QByteArray line = buffer.left(end);
    buffer.remove(0, end + 1);
    return line;
}

bool PeerClient::knock(SSL_CTX* context, int port, const QByteArray& hello)
{
    PeerClient client(context, port, 3000);
    client.send(hello);
    char chunk[4096];
    size_t got = 0;
    bool said = false;
    while (client.ready && SSL_read_ex(client.ssl, chunk, sizeof chunk, &got) == 1)
        said = true;
    const bool timedOut = client.ready && SSL_get_error(client.ssl, 0) == SSL_ERROR_WANT_READ;
    ERR_clear_error();
    return client.ready && !said && !timedOut;
}
