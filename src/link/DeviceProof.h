#pragma once

#include <QByteArray>
#include <QString>

// A device's proof that it holds its certificate's key: it signs a statement naming its id and the
// sign-in token it syncs with (by the token's SHA-256), so the account service records a certificate
// only for the machine that holds its key, and a proof is of no use with any other token.
namespace DeviceProof {

QByteArray statement(const QString& deviceId, const QByteArray& tokenSha256Hex);
// The SHA-256 fingerprint (lower-case hex) of the ed25519 certificate `certificateDer` when `signature`
// over `statement` verifies with its key; empty otherwise.
QString verify(const QByteArray& certificateDer, const QByteArray& signature, const QByteArray& statement);

} // namespace DeviceProof
