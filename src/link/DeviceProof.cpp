#include "DeviceProof.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

namespace DeviceProof {

QByteArray statement(const QString& deviceId, const QByteArray& tokenSha256Hex)
{
    return "tarnel-net device proof\n" + deviceId.toUtf8() + '\n' + tokenSha256Hex + '\n';
}

QString verify(const QByteArray& certificateDer, const QByteArray& signature, const QByteArray& statement)
{
    const auto* der = reinterpret_cast<const unsigned char*>(certificateDer.constData());
    X509* cert = d2i_X509(nullptr, &der, long(certificateDer.size()));
    EVP_PKEY* key = cert ? X509_get0_pubkey(cert) : nullptr;
    EVP_MD_CTX* check = EVP_MD_CTX_new();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const bool whole =
        der == reinterpret_cast<const unsigned char*>(certificateDer.constData()) + certificateDer.size();
    const bool ok = whole && key && EVP_PKEY_is_a(key, "ED25519") && check &&
                    EVP_DigestVerifyInit(check, nullptr, nullptr, nullptr, key) == 1 &&
                    EVP_DigestVerify(check, reinterpret_cast<const unsigned char*>(signature.constData()),
                                     size_t(signature.size()),
                                     reinterpret_cast<const unsigned char*>(statement.constData()),
                                     size_t(statement.size())) == 1 &&
                    X509_digest(cert, EVP_sha256(), digest, &length) == 1;
    EVP_MD_CTX_free(check);
    X509_free(cert);
    return ok ? QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex())
              : QString();
}

} // namespace DeviceProof
