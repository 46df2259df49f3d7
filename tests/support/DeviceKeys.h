#pragma once

#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QTemporaryDir>
#include <memory>

class Identity;
typedef struct ssl_ctx_st SSL_CTX;

// Device certificates for tests that call the device API as tarnel-net does: each name gets its own
// key and certificate (tarnel-net's own, made on first use), and a sync body gets that certificate and
// the proof that its sender holds the key.
class DeviceKeys {
public:
    DeviceKeys();
    ~DeviceKeys();

    QString fingerprint(const QString& name);
    // `body` with the certificate of `name` and its proof for `token` and the body's id.
    QJsonObject prove(QJsonObject body, const QString& name, const QString& token);
    // TLS with the certificate of `name`, as tarnel-net links with it.
    SSL_CTX* context(const QString& name);

private:
    const Identity& identity(const QString& name);

    QTemporaryDir dir;
    QMap<QString, std::shared_ptr<Identity>> made;
};
