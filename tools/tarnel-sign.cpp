// tarnel-sign: makes a release. `keygen` makes the publisher's key, `sign` writes the bundle's manifest
// and its Ed25519 signature, `pack` zips the bundle (links kept) and prints the archive's SHA-256 for the
// account service's release record.
#include "platform/BundleManifest.h"
#include "platform/Ed25519.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <cstdio>
#include <variant>

namespace {
const char* const usage =
    "用法：\n"
    "  tarnel-sign keygen --out 私钥.pem        新建发布密钥，打印公钥（构建时填进 TARNEL_UPDATE_KEYS）\n"
    "  tarnel-sign public --key 私钥.pem        打印这把私钥的公钥\n"
    "  tarnel-sign sign tarnel.app --key 私钥.pem   写 signature/manifest.json 和 manifest.sig\n"
    "  tarnel-sign pack tarnel.app --out tarnel.zip  打包（保留链接），打印包的 SHA-256\n";

int fail(const QString& message)
{
    std::fprintf(stderr, "tarnel-sign：%s\n", message.toUtf8().constData());
    return 1;
}

void say(const QString& line) { std::printf("%s\n", line.toUtf8().constData()); }

// The value after `--name`, or empty.
QString option(const QStringList& args, const QString& name)
{
    const qsizetype at = args.indexOf(QStringLiteral("--") + name);
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : QString();
}

std::optional<QByteArray> readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

bool writeFile(const QString& path, const QByteArray& bytes, QFile::Permissions permissions)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.setPermissions(permissions))
        return false;
    return file.commit();
}

int keygen(const QString& out)
{
    if (out.isEmpty())
        return fail(QStringLiteral("需要 --out 私钥文件"));
    if (QFileInfo::exists(out))
        return fail(QStringLiteral("%1 已经存在，不覆盖").arg(out));
    const auto pem = Ed25519::generatePrivatePem();
    if (!pem || !writeFile(out, *pem, QFile::ReadOwner | QFile::WriteOwner))
        return fail(QStringLiteral("写不了 %1").arg(out));
    say(QString::fromLatin1(Ed25519::publicKeyOf(*pem)->toBase64()));
    return 0;
}

std::optional<QByteArray> privateKey(const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    const auto pem = readAll(path);
    return pem && Ed25519::publicKeyOf(*pem) ? pem : std::nullopt;
}

int printPublic(const QString& keyPath)
{
    const auto pem = privateKey(keyPath);
    if (!pem)
        return fail(QStringLiteral("需要 --key 一把 Ed25519 私钥（PEM）"));
    say(QString::fromLatin1(Ed25519::publicKeyOf(*pem)->toBase64()));
    return 0;
}

// A release bundle names itself com.tarnel.app and carries a positive build number.
std::optional<QString> bundleProblem(const QString& bundle)
{
    const auto info = readAll(bundle + QStringLiteral("/info.json"));
    const QJsonObject o = info ? QJsonDocument::fromJson(*info).object() : QJsonObject();
    static const QRegularExpression positive(QStringLiteral("^[1-9][0-9]*$"));
    if (o.value(QStringLiteral("identifier")).toString() != QLatin1String("com.tarnel.app")
        || !positive.match(o.value(QStringLiteral("build")).toString()).hasMatch()
        || o.value(QStringLiteral("version")).toString().isEmpty())
        return QStringLiteral("%1/info.json 要有 identifier com.tarnel.app、version 和正整数 build").arg(bundle);
    return std::nullopt;
}

int sign(const QString& bundle, const QString& keyPath)
{
    const auto pem = privateKey(keyPath);
    if (!pem)
        return fail(QStringLiteral("需要 --key 一把 Ed25519 私钥（PEM）"));
    if (const auto problem = bundleProblem(bundle))
        return fail(*problem);
    const auto described = BundleManifest::describe(bundle);
    if (const QString* problem = std::get_if<QString>(&described))
        return fail(*problem);
    const QByteArray bytes = std::get<BundleManifest>(described).canonicalBytes();
    const auto signature = Ed25519::sign(bytes, *pem);
    if (!signature)
        return fail(QStringLiteral("签名失败"));
    const QFile::Permissions readable = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    if (!QDir().mkpath(QFileInfo(BundleManifest::manifestPath(bundle)).path())
        || !writeFile(BundleManifest::manifestPath(bundle), bytes, readable)
        || !writeFile(BundleManifest::signaturePath(bundle), signature->toBase64() + '\n', readable))
        return fail(QStringLiteral("写不了 %1/signature").arg(bundle));
    say(QStringLiteral("已签名：%1 个条目").arg(std::get<BundleManifest>(described).entries.size()));
    return 0;
}

int pack(const QString& bundle, const QString& out)
{
    const QFileInfo folder(bundle);
    if (out.isEmpty())
        return fail(QStringLiteral("需要 --out 包文件"));
    if (folder.fileName() != QLatin1String("tarnel.app") || !folder.isDir())
        return fail(QStringLiteral("要打包的文件夹得叫 tarnel.app"));
    const auto manifest = readAll(BundleManifest::manifestPath(bundle));
    const auto parsed = manifest ? BundleManifest::parse(*manifest) : std::nullopt;
    if (!parsed || parsed->compare(bundle) != BundleManifest::Mismatch::none)
        return fail(QStringLiteral("%1 没签名或签名后又改过，先运行 sign").arg(bundle));
    QFile::remove(out);
    QProcess zip;
    zip.start(QStringLiteral("bsdtar"), {QStringLiteral("--format"), QStringLiteral("zip"), QStringLiteral("-cf"),
                                         QFileInfo(out).absoluteFilePath(), QStringLiteral("-C"),
                                         folder.absolutePath(), QStringLiteral("tarnel.app")});
    if (!zip.waitForFinished(-1) || zip.exitStatus() != QProcess::NormalExit || zip.exitCode() != 0)
        return fail(QStringLiteral("打包失败（需要 bsdtar）：%1").arg(QString::fromLocal8Bit(zip.readAllStandardError()).trimmed()));
    const auto digest = BundleManifest::fileSha256(out);
    if (!digest)
        return fail(QStringLiteral("读不了 %1").arg(out));
    say(*digest);
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments().mid(1);
    const QString command = args.value(0);
    if (command == QLatin1String("keygen"))
        return keygen(option(args, QStringLiteral("out")));
    if (command == QLatin1String("public"))
        return printPublic(option(args, QStringLiteral("key")));
    if (command == QLatin1String("sign") && args.size() >= 2)
        return sign(args.at(1), option(args, QStringLiteral("key")));
    if (command == QLatin1String("pack") && args.size() >= 2)
        return pack(args.at(1), option(args, QStringLiteral("out")));
    std::fputs(usage, command == QLatin1String("--help") ? stdout : stderr);
    return command == QLatin1String("--help") ? 0 : 2;
}
