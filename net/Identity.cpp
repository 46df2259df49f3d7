#include "Identity.h"

#include "state/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace {

struct Bio {
    BIO* bio = BIO_new(BIO_s_mem());
    ~Bio() { BIO_free(bio); }
    QByteArray bytes() const
    {
        char* data = nullptr;
        const long size = BIO_get_mem_data(bio, &data);
        return QByteArray(data, int(size));
    }
};

std::optional<QByteArray> readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

// A fresh ed25519 key and its self-signed certificate, as PEM texts.
bool makeCertificate(const QString& id, QByteArray* keyPem, QByteArray* certPem)
{
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    X509* cert = X509_new();
    bool ok = key && cert;
    if (ok) {
        X509_set_version(cert, 2);
        unsigned char serial[16];
        RAND_bytes(serial, sizeof serial);
        serial[0] &= 0x7f;
        BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
        BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert));
        BN_free(number);
        X509_gmtime_adj(X509_getm_notBefore(cert), -86400);
        X509_gmtime_adj(X509_getm_notAfter(cert), 20L * 365 * 86400);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        const QByteArray cn = "tarnel-net " + id.toUtf8();
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(cn.constData()),
                                   -1, -1, 0);
        X509_set_issuer_name(cert, name);
        ok = X509_sign(cert, key, nullptr) > 0;
    }
    Bio keyOut, certOut;
    ok = ok && PEM_write_bio_PrivateKey(keyOut.bio, key, nullptr, nullptr, 0, nullptr, nullptr) == 1 &&
         PEM_write_bio_X509(certOut.bio, cert) == 1;
    if (ok) {
        *keyPem = keyOut.bytes();
        *certPem = certOut.bytes();
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    return ok;
}

// Peers are pinned after the chain check: a self-signed certificate is all there is.
int acceptChain(int, X509_STORE_CTX*) { return 1; }

} // namespace

Identity::~Identity() { SSL_CTX_free(ctx); }

Identity::Identity(Identity&& other) noexcept : id(other.id), sha256(other.sha256), der(other.der), ctx(other.ctx)
{
    other.ctx = nullptr;
}

QByteArray Identity::sign(const QByteArray& message) const
{
    EVP_PKEY* key = ctx ? SSL_CTX_get0_privatekey(ctx) : nullptr;
    EVP_MD_CTX* signing = EVP_MD_CTX_new();
    QByteArray signature(64, '\0'); // an ed25519 signature
    size_t length = size_t(signature.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(message.constData());
    const bool ok = key && signing && EVP_DigestSignInit(signing, nullptr, nullptr, nullptr, key) == 1 &&
                    EVP_DigestSign(signing, reinterpret_cast<unsigned char*>(signature.data()), &length, bytes,
                                   size_t(message.size())) == 1;
    EVP_MD_CTX_free(signing);
    if (!ok)
        return {};
    signature.truncate(qsizetype(length));
    return signature;
}

bool Identity::validFingerprint(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-f]{64}$"));
    return pattern.match(text).hasMatch();
}

bool Identity::discard(const QString& stateDir)
{
    QDir dir(stateDir);
    bool gone = true;
    for (const char* name : {"device-id", "tls-key.pem", "tls-cert.pem"})
        gone = (dir.remove(QLatin1String(name)) || !dir.exists(QLatin1String(name))) && gone;
    return gone;
}

std::optional<Identity> Identity::loadOrCreate(const QString& stateDir, QString* error)
{
    const QDir dir(stateDir);
    const QString idPath = dir.filePath(QStringLiteral("device-id"));
    const QString keyPath = dir.filePath(QStringLiteral("tls-key.pem"));
    const QString certPath = dir.filePath(QStringLiteral("tls-cert.pem"));

    Identity identity;
    auto storedId = readFile(idPath);
    if (!storedId) {
        unsigned char random[16];
        RAND_bytes(random, sizeof random);
        storedId = QByteArray(reinterpret_cast<const char*>(random), sizeof random).toHex();
        if (const Outcome<> written = AtomicFile::write(idPath, *storedId + '\n', 0600); !written.ok()) {
            *error = QStringLiteral("写不了设备编号：%1").arg(written.failure());
            return std::nullopt;
        }
    }
    identity.id = QString::fromLatin1(storedId->trimmed());

    auto keyPem = readFile(keyPath);
    auto certPem = readFile(certPath);
    if (!keyPem || !certPem) {
        QByteArray key, cert;
        if (!makeCertificate(identity.id, &key, &cert)) {
            *error = QStringLiteral("生成 TLS 证书失败");
            return std::nullopt;
        }
        if (!AtomicFile::write(keyPath, key, 0600).ok() || !AtomicFile::write(certPath, cert, 0600).ok()) {
            *error = QStringLiteral("写不了 TLS 证书");
            return std::nullopt;
        }
        keyPem = key;
        certPem = cert;
    }

    BIO* keyBio = BIO_new_mem_buf(keyPem->constData(), int(keyPem->size()));
    BIO* certBio = BIO_new_mem_buf(certPem->constData(), int(certPem->size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
    BIO_free(keyBio);
    BIO_free(certBio);
    SSL_CTX* ctx = SSL_CTX_new(TLS_method());
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    unsigned char* encoded = nullptr;
    const int encodedLength = cert ? i2d_X509(cert, &encoded) : -1;
    if (encodedLength > 0)
        identity.der = QByteArray(reinterpret_cast<const char*>(encoded), encodedLength);
    OPENSSL_free(encoded);
    const bool ok = encodedLength > 0 && key && cert && ctx &&
                    SSL_CTX_set_min_proto_version(ctx, TLS1_3_VERSION) == 1 && SSL_CTX_use_certificate(ctx, cert) == 1 && SSL_CTX_use_PrivateKey(ctx, key) == 1 &&
                    SSL_CTX_check_private_key(ctx) == 1 && X509_digest(cert, EVP_sha256(), digest, &length) == 1;
    EVP_PKEY_free(key);
    X509_free(cert);
    if (!ok) {
        SSL_CTX_free(ctx);
        *error = QStringLiteral("TLS 证书读不了（%1），删掉 tls-key.pem 和 tls-cert.pem 会重新生成").arg(certPath);
        return std::nullopt;
    }
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, acceptChain);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_num_tickets(ctx, 0);
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    identity.ctx = ctx;
    identity.sha256 = QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex());
    return identity;
}
