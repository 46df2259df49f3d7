#include "support/DeviceKeys.h"

#include "Identity.h"
#include "link/DeviceProof.h"

#include <QCryptographicHash>
#include <QDir>

DeviceKeys::DeviceKeys() = default;
DeviceKeys::~DeviceKeys() = default;

const Identity& DeviceKeys::identity(const QString& name)
{
    if (!made.contains(name)) {
        const QString folder = dir.filePath(QString::number(made.size()));
        QDir().mkpath(folder);
        QString error;
        auto loaded = Identity::loadOrCreate(folder, &error);
        if (!loaded) qFatal("no test certificate: %s", qPrintable(error));
        made.insert(name, std::make_shared<Identity>(std::move(*loaded)));
    }
    return *made.value(name);
}

QString DeviceKeys::fingerprint(const QString& name)
{
    return identity(name).fingerprint();
}

SSL_CTX* DeviceKeys::context(const QString& name)
{
    return identity(name).context();
}

QJsonObject DeviceKeys::prove(QJsonObject body, const QString& name, const QString& token)
{
    const Identity& key = identity(name);
    const QByteArray tokenHash = QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex();
    body.insert(QStringLiteral("certSha256"), key.fingerprint());
    body.insert(QStringLiteral("certificate"), QString::fromLatin1(key.certificate().toBase64()));
    body.insert(QStringLiteral("proof"),
                QString::fromLatin1(
                    key.sign(DeviceProof::statement(body.value(QStringLiteral("id")).toString(), tokenHash))
                        .toBase64()));
    return body;
}
