#pragma once

#include <QByteArray>
#include <QList>
#include <optional>

// Ed25519 signatures through OpenSSL: the release key that signs an update and the public keys that check it.
namespace Ed25519 {

// A new private key as PEM (PKCS#8).
std::optional<QByteArray> generatePrivatePem();
// The 32 raw bytes of the public key that belongs to a PEM private key; none when it is no Ed25519 key.
std::optional<QByteArray> publicKeyOf(const QByteArray& privatePem);
// The 64-byte signature over exactly these bytes; none when the key is unusable.
std::optional<QByteArray> sign(const QByteArray& message, const QByteArray& privatePem);
// True when the signature over exactly these bytes was made by one of the keys (32 raw bytes each).
bool verifiedByAny(const QByteArray& message, const QByteArray& signature, const QList<QByteArray>& publicKeys);

} // namespace Ed25519
