#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

typedef struct ssl_ctx_st SSL_CTX;

// This device's identity in the state folder, made once: a random 128-bit device id and a self-signed
// ed25519 TLS certificate whose SHA-256 fingerprint peers pin. Private files are 0600.
class Identity {
public:
    ~Identity();
    Identity(Identity&& other) noexcept;
    Identity(const Identity&) = delete;

    // Loads it, making what is missing; an error text when the files cannot be made or read.
    static std::optional<Identity> loadOrCreate(const QString& stateDir, QString* error);

    QString deviceId() const { return id; }
    QString fingerprint() const { return sha256; } // lower-case hex of the certificate's DER
    // TLS 1.3 with this certificate; every connection asks for the peer's certificate (pinned by the caller).
    SSL_CTX* context() const { return ctx; }
    QByteArray certificate() const { return der; } // the certificate's DER
    // `message` signed with the certificate's key; empty when signing failed.
    QByteArray sign(const QByteArray& message) const;

    static bool validFingerprint(const QString& text);
    // Deletes the stored id and certificate, so the next load makes a new device; false when one stays.
    static bool discard(const QString& stateDir);

private:
    Identity() = default;
    QString id;
    QString sha256;
    QByteArray der;
    SSL_CTX* ctx = nullptr;
};
