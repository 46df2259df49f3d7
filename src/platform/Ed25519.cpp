#include "platform/Ed25519.h"

#include <memory>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace {
using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;
using Context = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

constexpr size_t publicKeySize = 32;
constexpr size_t signatureSize = 64;

Key readPrivate(const QByteArray& pem)
{
    Bio bio(BIO_new_mem_buf(pem.constData(), int(pem.size())), BIO_free);
    Key key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr, EVP_PKEY_free);
    if (key && EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_ED25519)
        key.reset();
    return key;
}
} // namespace

namespace Ed25519 {

std::optional<QByteArray> generatePrivatePem()
{
    Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), EVP_PKEY_free);
    Bio bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!key || !bio || PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return std::nullopt;
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, int(size));
}

std::optional<QByteArray> publicKeyOf(const QByteArray& privatePem)
{
    const Key key = readPrivate(privatePem);
    QByteArray raw(publicKeySize, '\0');
    size_t length = publicKeySize;
    if (!key || EVP_PKEY_get_raw_public_key(key.get(), reinterpret_cast<unsigned char*>(raw.data()), &length) != 1
        || length != publicKeySize)
        return std::nullopt;
    return raw;
}

std::optional<QByteArray> sign(const QByteArray& message, const QByteArray& privatePem)
{
    const Key key = readPrivate(privatePem);
    Context context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    QByteArray signature(signatureSize, '\0');
    size_t length = signatureSize;
    if (!key || !context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1
        || EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                          reinterpret_cast<const unsigned char*>(message.constData()), size_t(message.size())) != 1
        || length != signatureSize)
        return std::nullopt;
    return signature;
}

bool verifiedByAny(const QByteArray& message, const QByteArray& signature, const QList<QByteArray>& publicKeys)
{
    if (size_t(signature.size()) != signatureSize)
        return false;
    for (const QByteArray& raw : publicKeys) {
        if (size_t(raw.size()) != publicKeySize)
            continue;
        Key key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                            reinterpret_cast<const unsigned char*>(raw.constData()), publicKeySize),
                EVP_PKEY_free);
        Context context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
        if (key && context && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1
            && EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.constData()),
                                signatureSize, reinterpret_cast<const unsigned char*>(message.constData()),
                                size_t(message.size())) == 1)
            return true;
    }
    return false;
}

} // namespace Ed25519
