#include "account/UpdateStage.h"

#include "platform/ProcessRunner.h"
#include "platform/BundleManifest.h"
#include "platform/Ed25519.h"

#include <QDir>
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

QString signatureWrong(BundleManifest::Mismatch mismatch)
{
    return QStringLiteral("更新包的签名不对（%1），已丢弃").arg(int(mismatch));
}
} // namespace

std::optional<qint64> UpdateStage::wholeNumber(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^[+-]?[0-9]+$"));
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    return pattern.match(text).hasMatch() && ok ? std::optional<qint64>(value) : std::nullopt;
}

bool UpdateStage::unpack(const QString& archive, const QString& intoDir)
{
    // bsdtar refuses ".." and writes through links by default and warns when it strips a leading "/".
    const CommandResult result = ProcessRunner::run(
        QStringLiteral("/usr/bin/bsdtar"),
        {QStringLiteral("-x"), QStringLiteral("--no-same-owner"), QStringLiteral("--no-same-permissions"),
         QStringLiteral("-f"), archive, QStringLiteral("-C"), intoDir},
        std::nullopt, 600);
    return result.succeeded() && result.stderr.trimmed().isEmpty();
}

std::optional<QString> UpdateStage::verify(const QString& app, qint64 expectedBuild,
                                           const std::optional<QList<QByteArray>>& publisherKeys)
{
    const auto info = readRegularFile(app + QStringLiteral("/info.json"));
    const QJsonObject fields = info ? QJsonDocument::fromJson(*info).object() : QJsonObject();
    const QJsonValue build = fields.value(QStringLiteral("build"));
    if (fields.value(QStringLiteral("identifier")) != QJsonValue(QStringLiteral("com.tarnel.app")) || !build.isString()
        || wholeNumber(build.toString()) != expectedBuild)
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

std::optional<QString> UpdateStage::settle(const QString& stageDir, const QString& expectedSha256, qint64 build,
                                           const std::optional<QList<QByteArray>>& publisherKeys)
{
    const QString archive = stageDir + QLatin1Char('/') + archiveName();
    const auto digest = BundleManifest::fileSha256(archive);
    if (!digest)
        return QStringLiteral("读不了下载的更新包");
    auto discard = [&](const QString& message) {
        QDir(stageDir).removeRecursively();
        return std::optional<QString>(message);
    };
    if (*digest != expectedSha256.toLower())
        return discard(QStringLiteral("下载的更新包校验不对（可能没下完整），稍后会自动重试"));
    if (!unpack(archive, stageDir))
        return discard(QStringLiteral("解压更新包失败"));
    QFile::remove(archive);
    if (auto problem = verify(stageDir + QLatin1Char('/') + bundleName(), build, publisherKeys))
        return discard(*problem);
    return std::nullopt;
}
