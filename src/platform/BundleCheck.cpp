#include "platform/BundleCheck.h"

#include "platform/BundleManifest.h"
#include "platform/Ed25519.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {
const char* const versionInfoWrong = "更新包里的版本信息不对";
const char* const signatureUnreadable = "读不到更新包的签名";
const char* const requirementUnreadable = "读不到当前 tarnel 的签名要求";

std::optional<QByteArray> readRegularFile(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

QJsonObject infoFields(const QString& app)
{
    const auto info = readRegularFile(app + QStringLiteral("/info.json"));
    return info ? QJsonDocument::fromJson(*info).object() : QJsonObject();
}

QString signatureWrong(BundleManifest::Mismatch mismatch)
{
    return QStringLiteral("更新包的签名不对（%1），已丢弃").arg(int(mismatch));
}
} // namespace

std::optional<qint64> BundleCheck::wholeNumber(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^[+-]?[0-9]+$"));
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    return pattern.match(text).hasMatch() && ok ? std::optional<qint64>(value) : std::nullopt;
}

std::optional<qint64> BundleCheck::build(const QString& app)
{
    const QJsonValue build = infoFields(app).value(QStringLiteral("build"));
    return build.isString() ? wholeNumber(build.toString()) : std::nullopt;
}

QList<QByteArray> BundleCheck::decodeKeys(const QString& text)
{
    QList<QByteArray> keys;
    for (const QString& piece : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QByteArray key = QByteArray::fromBase64(piece.trimmed().toLatin1());
        if (key.size() == 32)
            keys << key;
    }
    return keys;
}

std::optional<QString> BundleCheck::verify(const QString& app, std::optional<qint64> expectedBuild,
                                           const std::optional<QList<QByteArray>>& publisherKeys)
{
    const std::optional<qint64> found = build(app);
    if (infoFields(app).value(QStringLiteral("identifier")) != QJsonValue(QStringLiteral("com.tarnel.app")) || !found
        || (expectedBuild && found != expectedBuild))
        return QString::fromUtf8(versionInfoWrong);

    const auto manifestBytes = readRegularFile(BundleManifest::manifestPath(app));
    const auto signatureText = readRegularFile(BundleManifest::signaturePath(app));
    const QByteArray signature = signatureText ? QByteArray::fromBase64(signatureText->trimmed()) : QByteArray();
    const auto manifest = manifestBytes ? BundleManifest::parse(*manifestBytes) : std::nullopt;
    if (!manifest || signature.size() != 64)
        return QString::fromUtf8(signatureUnreadable);

    if (!publisherKeys || publisherKeys->isEmpty())
        return QString::fromUtf8(requirementUnreadable);

    if (!Ed25519::verifiedByAny(*manifestBytes, signature, *publisherKeys))
        return signatureWrong(BundleManifest::Mismatch::badSignature);
    const BundleManifest::Mismatch mismatch = manifest->compare(app);
    if (mismatch != BundleManifest::Mismatch::none)
        return signatureWrong(mismatch);
    return std::nullopt;
}
