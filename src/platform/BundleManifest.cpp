#include "platform/BundleManifest.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <sys/stat.h>

namespace {
const QString signatureFolder = QStringLiteral("signature");
const QString manifestName = QStringLiteral("manifest.json");
const QString signatureName = QStringLiteral("manifest.sig");

// What one path below the bundle is on disk.
struct OnDisk {
    enum class Kind { file, link, folder, special } kind = Kind::special;
    bool executable = false;
    QString target;
};

bool plainComponent(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..");
}

bool hasControl(const QString& text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

std::optional<OnDisk> inspect(const QString& path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    OnDisk disk;
    if (S_ISREG(info.st_mode)) {
        disk.kind = OnDisk::Kind::file;
        disk.executable = (info.st_mode & S_IXUSR) != 0;
    } else if (S_ISLNK(info.st_mode)) {
        disk.kind = OnDisk::Kind::link;
        QByteArray raw(4096, '\0');
        const ssize_t length = ::readlink(QFile::encodeName(path).constData(), raw.data(), size_t(raw.size()));
        disk.target = length >= 0 ? QFile::decodeName(raw.left(length)) : QString();
    } else if (S_ISDIR(info.st_mode)) {
        disk.kind = OnDisk::Kind::folder;
    }
    return disk;
}

// Every path below `root` (relative), with what it is; the top-level signature folder is left out.
QMap<QString, OnDisk> walk(const QString& root)
{
    QMap<QString, OnDisk> found;
    QList<QString> pending{QString()};
    while (!pending.isEmpty()) {
        const QString folder = pending.takeFirst();
        const QDir dir(folder.isEmpty() ? root : root + QLatin1Char('/') + folder);
        const QStringList names = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& name : names) {
            const QString relative = folder.isEmpty() ? name : folder + QLatin1Char('/') + name;
            if (relative == signatureFolder)
                continue;
            const auto disk = inspect(root + QLatin1Char('/') + relative);
            if (!disk)
                continue;
            found.insert(relative, *disk);
            if (disk->kind == OnDisk::Kind::folder)
                pending.append(relative);
        }
    }
    return found;
}

// The folders that lie above some entry.
QSet<QString> parentsOf(const QList<QString>& paths)
{
    QSet<QString> parents;
    for (const QString& path : paths)
        for (qsizetype slash = path.indexOf(QLatin1Char('/')); slash > 0; slash = path.indexOf(QLatin1Char('/'), slash + 1))
            parents.insert(path.left(slash));
    return parents;
}

bool signatureFolderIsPlain(const QString& root)
{
    const QString folder = root + QLatin1Char('/') + signatureFolder;
    const auto disk = inspect(folder);
    if (!disk)
        return true;
    if (disk->kind != OnDisk::Kind::folder)
        return false;
    const QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    return std::all_of(names.begin(), names.end(), [&](const QString& name) {
        const auto file = inspect(folder + QLatin1Char('/') + name);
        return (name == manifestName || name == signatureName) && file && file->kind == OnDisk::Kind::file;
    });
}

QString typeName(BundleManifest::Type type)
{
    return type == BundleManifest::Type::file ? QStringLiteral("file") : QStringLiteral("link");
}
} // namespace

QString BundleManifest::manifestPath(const QString& bundleDir)
{
    return bundleDir + QLatin1Char('/') + signatureFolder + QLatin1Char('/') + manifestName;
}

QString BundleManifest::signaturePath(const QString& bundleDir)
{
    return bundleDir + QLatin1Char('/') + signatureFolder + QLatin1Char('/') + signatureName;
}

bool BundleManifest::safePath(const QString& path)
{
    if (path.isEmpty() || path.size() > 4096 || hasControl(path))
        return false;
    const QStringList parts = path.split(QLatin1Char('/'));
    return parts.first() != signatureFolder && std::all_of(parts.begin(), parts.end(), plainComponent);
}

bool BundleManifest::safeLinkTarget(const QString& linkPath, const QString& target)
{
    if (target.isEmpty() || target.startsWith(QLatin1Char('/')) || hasControl(target))
        return false;
    const qsizetype depth = linkPath.count(QLatin1Char('/'));
    qsizetype ups = 0;
    bool descending = false;
    for (const QString& part : target.split(QLatin1Char('/'))) {
        if (part == QLatin1String("..") && !descending)
            ++ups;
        else if (plainComponent(part))
            descending = true;
        else
            return false;
    }
    return ups <= depth;
}

std::optional<QString> BundleManifest::fileSha256(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray chunk;
    do {
        chunk = file.read(4 << 20);
        if (file.error() != QFileDevice::NoError)
            return std::nullopt;
        hash.addData(chunk);
    } while (!chunk.isEmpty());
    return QString::fromLatin1(hash.result().toHex());
}

std::variant<BundleManifest, QString> BundleManifest::describe(const QString& bundleDir)
{
    if (inspect(bundleDir).value_or(OnDisk{}).kind != OnDisk::Kind::folder)
        return QStringLiteral("%1 不是文件夹").arg(bundleDir);
    const QMap<QString, OnDisk> tree = walk(bundleDir);
    const QSet<QString> parents = parentsOf(tree.keys());
    BundleManifest manifest;
    for (auto it = tree.begin(); it != tree.end(); ++it) {
        const QString& path = it.key();
        if (!safePath(path))
            return QStringLiteral("路径不能签：%1").arg(path);
        switch (it->kind) {
        case OnDisk::Kind::special:
            return QStringLiteral("特殊文件不能签：%1").arg(path);
        case OnDisk::Kind::folder:
            if (!parents.contains(path))
                return QStringLiteral("空文件夹不能签：%1").arg(path);
            break;
        case OnDisk::Kind::link:
            if (!safeLinkTarget(path, it->target))
                return QStringLiteral("链接指到包外：%1 -> %2").arg(path, it->target);
            manifest.entries.append({path, Type::link, false, {}, it->target});
            break;
        case OnDisk::Kind::file: {
            const auto digest = fileSha256(bundleDir + QLatin1Char('/') + path);
            if (!digest)
                return QStringLiteral("读不了 %1").arg(path);
            manifest.entries.append({path, Type::file, it->executable, *digest, {}});
            break;
        }
        }
    }
    if (manifest.entries.isEmpty())
        return QStringLiteral("%1 里没有文件").arg(bundleDir);
    return manifest;
}

QByteArray BundleManifest::canonicalBytes() const
{
    QList<Entry> sorted = entries;
    std::sort(sorted.begin(), sorted.end(), [](const Entry& a, const Entry& b) { return a.path.toUtf8() < b.path.toUtf8(); });
    QJsonArray list;
    for (const Entry& entry : sorted) {
        QJsonObject o{{QStringLiteral("path"), entry.path}, {QStringLiteral("type"), typeName(entry.type)}};
        if (entry.type == Type::file) {
            o.insert(QStringLiteral("executable"), entry.executable);
            o.insert(QStringLiteral("sha256"), entry.sha256);
        } else {
            o.insert(QStringLiteral("target"), entry.target);
        }
        list.append(o);
    }
    const QJsonObject document{{QStringLiteral("entries"), list}, {QStringLiteral("format"), 1}};
    return QJsonDocument(document).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<BundleManifest> BundleManifest::parse(const QByteArray& bytes)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    if (root.value(QStringLiteral("format")) != QJsonValue(1) || !root.value(QStringLiteral("entries")).isArray())
        return std::nullopt;
    BundleManifest manifest;
    for (const QJsonValue& value : root.value(QStringLiteral("entries")).toArray()) {
        const QJsonObject o = value.toObject();
        const QJsonValue path = o.value(QStringLiteral("path"));
        const QString type = o.value(QStringLiteral("type")).toString();
        if (!path.isString())
            return std::nullopt;
        Entry entry;
        entry.path = path.toString();
        if (type == QLatin1String("file")) {
            const QJsonValue executable = o.value(QStringLiteral("executable"));
            const QString digest = o.value(QStringLiteral("sha256")).toString();
            if (!executable.isBool() || !hex.match(digest).hasMatch())
                return std::nullopt;
            entry.executable = executable.toBool();
            entry.sha256 = digest;
        } else if (type == QLatin1String("link")) {
            const QJsonValue target = o.value(QStringLiteral("target"));
            if (!target.isString())
                return std::nullopt;
            entry.type = Type::link;
            entry.target = target.toString();
        } else {
            return std::nullopt;
        }
        manifest.entries.append(entry);
    }
    return manifest;
}

BundleManifest::Mismatch BundleManifest::compare(const QString& bundleDir) const
{
    // The manifest itself first: nothing on disk is read through a path it should not name.
    QSet<QString> listed;
    QSet<QString> links;
    for (const Entry& entry : entries) {
        if (!safePath(entry.path) || listed.contains(entry.path))
            return Mismatch::unsafePath;
        listed.insert(entry.path);
        if (entry.type == Type::link)
            links.insert(entry.path);
    }
    const QSet<QString> parents = parentsOf(listed.values());
    for (const QString& parent : parents)
        if (listed.contains(parent))
            return Mismatch::unsafePath; // an entry below a file or a link
    for (const Entry& entry : entries)
        if (entry.type == Type::link && !safeLinkTarget(entry.path, entry.target))
            return Mismatch::unsafeTree;

    const QMap<QString, OnDisk> tree = walk(bundleDir);
    for (auto it = tree.begin(); it != tree.end(); ++it)
        if (it->kind == OnDisk::Kind::special
            || (it->kind == OnDisk::Kind::link && !safeLinkTarget(it.key(), it->target)))
            return Mismatch::unsafeTree;
    if (!signatureFolderIsPlain(bundleDir))
        return Mismatch::unlisted;

    for (const Entry& entry : entries) {
        const auto disk = tree.constFind(entry.path);
        if (disk == tree.constEnd())
            return Mismatch::missing;
        const bool sameKind = entry.type == Type::file
            ? disk->kind == OnDisk::Kind::file && disk->executable == entry.executable
            : disk->kind == OnDisk::Kind::link;
        if (!sameKind)
            return Mismatch::kind;
    }
    for (auto it = tree.begin(); it != tree.end(); ++it)
        if (it->kind == OnDisk::Kind::folder ? !parents.contains(it.key()) : !listed.contains(it.key()))
            return Mismatch::unlisted;
    for (const Entry& entry : entries) {
        const bool same = entry.type == Type::link
            ? tree.value(entry.path).target == entry.target
            : fileSha256(bundleDir + QLatin1Char('/') + entry.path) == entry.sha256;
        if (!same)
            return Mismatch::content;
    }
    return Mismatch::none;
}
