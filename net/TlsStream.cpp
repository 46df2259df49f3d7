#include "TlsStream.h"

#include <QSocketNotifier>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <unistd.h>

namespace {

int streamIndex()
{
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

int verifyPeer(int, X509_STORE_CTX* store)
{
    if (X509_STORE_CTX_get_error_depth(store) != 0)
        return 1;
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* stream = static_cast<TlsStream*>(SSL_get_ex_data(ssl, streamIndex()));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509* cert = X509_STORE_CTX_get_current_cert(store);
    if (!stream || !cert || X509_digest(cert, EVP_sha256(), digest, &length) != 1)
        return 0;
    return stream->checkPeer(QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex()))
               ? 1
               : 0;
}

// OpenSSL keeps its errors per thread, and every connection of the program shares this one: each call
// starts with an empty queue, and a failed one reads its own error and leaves the queue empty again, so
// that one connection's failure (a stranger's refused certificate) is never read as another's.
QString sslError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return code ? QString::fromLatin1(text) : QStringLiteral("连接断了");
}

template <class Call>
int sslCall(SSL* ssl, Call call, int* error)
{
    ERR_clear_error();
    const int r = call();
    *error = r == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl, r);
    return r;
}

} // namespace

TlsStream::TlsStream(int fd, SSL_CTX* ctx, Role role, Pin pin, QObject* parent)
    : Stream(parent), fd(fd), pin(std::move(pin))
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd);
    SSL_set_ex_data(ssl, streamIndex(), this);
    SSL_set_verify(ssl, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, verifyPeer);
    if (role == Role::Client)
        SSL_set_connect_state(ssl);
    else
        SSL_set_accept_state(ssl);
    readable = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    writable = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    readable->setEnabled(false);
    writable->setEnabled(false);
    connect(readable, &QSocketNotifier::activated, this, [this] {
        wantRead = false;
        pump();
    });
    connect(writable, &QSocketNotifier::activated, this, [this] {
        wantWrite = false;
        pump();
    });
    QMetaObject::invokeMethod(this, &TlsStream::pump, Qt::QueuedConnection);
}

TlsStream::~TlsStream()
{
    close();
    SSL_free(ssl);
}

bool TlsStream::checkPeer(const QString& fingerprint)
{
    if (!pin || !pin(fingerprint))
        return false;
    peer = fingerprint;
    return true;
}

void TlsStream::pump()
{
    if (dead || pumping)
        return;
    pumping = true;
    if (!established_)
        handshake();
    if (established_ && !dead) {
        flush();
        if (!dead && readerWaits && !eof) {
            readerWaits = false;
            Q_EMIT readyRead();
        }
        if (!dead)
            flush(); // what the reader answered
    }
    pumping = false;
    updateNotifiers();
}

void TlsStream::handshake()
{
    int e = SSL_ERROR_NONE;
    if (sslCall(ssl, [this] { return SSL_do_handshake(ssl); }, &e) == 1) {
        established_ = true;
        Q_EMIT established();
        return;
    }
    if (e == SSL_ERROR_WANT_READ) {
        wantRead = true;
    } else if (e == SSL_ERROR_WANT_WRITE) {
        wantWrite = true;
    } else {
        const QString error = sslError();
        fail(peer.isEmpty() && SSL_get_verify_result(ssl) != X509_V_OK ? QStringLiteral("对方的证书不对")
                                                                       : QStringLiteral("TLS 握手失败：") + error);
    }
}

QByteArray TlsStream::read(qint64 max)
{
    if (dead || eof || !established_)
        return {};
    QByteArray bytes(max, Qt::Uninitialized);
    size_t got = 0;
    int e = SSL_ERROR_NONE;
    if (sslCall(ssl, [&] { return SSL_read_ex(ssl, bytes.data(), size_t(max), &got); }, &e) == 1) {
        bytes.resize(qsizetype(got));
        return bytes;
    }
    if (e == SSL_ERROR_WANT_READ) {
        readerWaits = true;
        wantRead = true;
    } else if (e == SSL_ERROR_WANT_WRITE) {
        readerWaits = true;
        wantWrite = true;
    } else if (e == SSL_ERROR_ZERO_RETURN || e == SSL_ERROR_SYSCALL) {
        eof = true;
        ERR_clear_error();
    } else {
        fail(sslError());
    }
    updateNotifiers();
    return {};
}

void TlsStream::write(const QByteArray& bytes)
{
    if (dead || finishing)
        return;
    out.append(bytes);
    if (established_ && !pumping) {
        pumping = true;
        flush();
        pumping = false;
        updateNotifiers();
    }
}

void TlsStream::flush()
{
    bool progress = false;
    while (outOffset < out.size() && !dead) {
        size_t sent = 0;
        int e = SSL_ERROR_NONE;
        if (sslCall(ssl, [&] { return SSL_write_ex(ssl, out.constData() + outOffset, size_t(out.size() - outOffset), &sent); },
                    &e) == 1) {
            outOffset += qint64(sent);
            progress = true;
            continue;
        }
        if (e == SSL_ERROR_WANT_WRITE)
            wantWrite = true;
        else if (e == SSL_ERROR_WANT_READ)
            wantRead = true;
        else
            fail(QStringLiteral("发送失败：") + sslError());
        break;
    }
    if (outOffset == out.size()) {
        out.clear();
        outOffset = 0;
        if (finishing && !shutdownSent)
            sendShutdown();
    } else if (outOffset > (1 << 20)) {
        out.remove(0, outOffset);
        outOffset = 0;
    }
    if (progress && !dead)
        QMetaObject::invokeMethod(this, [this] {
            if (!dead)
                Q_EMIT written();
        }, Qt::QueuedConnection);
}

void TlsStream::sendShutdown()
{
    int e = SSL_ERROR_NONE;
    if (sslCall(ssl, [this] { return SSL_shutdown(ssl); }, &e) >= 0) {
        shutdownSent = true;
        return;
    }
    if (e == SSL_ERROR_WANT_WRITE)
        wantWrite = true;
    else if (e == SSL_ERROR_WANT_READ)
        wantRead = true;
    else
        shutdownSent = true;
    ERR_clear_error();
}

void TlsStream::finishWrite()
{
    if (dead || finishing)
        return;
    finishing = true;
    if (established_)
        QMetaObject::invokeMethod(this, &TlsStream::pump, Qt::QueuedConnection);
}

void TlsStream::updateNotifiers()
{
    if (dead)
        return;
    readable->setEnabled(wantRead);
    writable->setEnabled(wantWrite);
}

void TlsStream::fail(const QString& reason)
{
    shut();
    QMetaObject::invokeMethod(this, [this, reason] {
        if (!silent)
            Q_EMIT broken(reason);
    }, Qt::QueuedConnection);
}

void TlsStream::close()
{
    silent = true;
    shut();
}

void TlsStream::shut()
{
    if (dead)
        return;
    dead = true;
    readable->setEnabled(false);
    writable->setEnabled(false);
    ::close(fd);
}
