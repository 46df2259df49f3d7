#include "account/UpdateStage.h"

#include "platform/ProcessRunner.h"
#include "platform/BundleCheck.h"
#include "platform/BundleManifest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>


std::optional<qint64> UpdateStage::wholeNumber(const QString& text) { return BundleCheck::wholeNumber(text); }

qint64 UpdateStage::unpackedLimit(qint64 archiveBytes)
{
    return std::clamp<qint64>(archiveBytes * 20, qint64(64) << 20, qint64(1) << 30);
}

bool UpdateStage::fitsWhenUnpacked(const QString& archive, qint64 maxBytes, int maxEntries)
{
    // Counted from what the extractor really produces, without writing it: the sizes an archive states
    // may lie. Each count stops one past its bound.
    const char* const count = R"(entries=$(/usr/bin/bsdtar -tf "$1" 2>/dev/null | head -n "$3" | wc -l)
bytes=$(/usr/bin/bsdtar -xOf "$1" 2>/dev/null | head -c "$2" | wc -c)
echo "$entries $bytes")";
    const CommandResult result = ProcessRunner::run(
        QStringLiteral("/bin/bash"),
        {QStringLiteral("-c"), QString::fromUtf8(count), QStringLiteral("count"), archive,
         QString::number(maxBytes + 1), QString::number(maxEntries + 1)},
        std::nullopt, 600);
    const QStringList numbers = result.stdout.trimmed().split(QLatin1Char(' '));
    if (!result.succeeded() || numbers.size() != 2)
        return false;
    const auto entries = wholeNumber(numbers[0]);
    const auto bytes = wholeNumber(numbers[1]);
    return entries && bytes && *entries <= maxEntries && *bytes <= maxBytes;
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
    return BundleCheck::verify(app, expectedBuild, publisherKeys);
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
    if (!fitsWhenUnpacked(archive, unpackedLimit(QFileInfo(archive).size()), maxEntries))
        return discard(QStringLiteral("更新包解开后太大，已丢弃"));
    if (!unpack(archive, stageDir))
        return discard(QStringLiteral("解压更新包失败"));
    QFile::remove(archive);
    if (auto problem = verify(stageDir + QLatin1Char('/') + bundleName(), build, publisherKeys))
        return discard(*problem);
    return std::nullopt;
}
