#include "support/ReleaseRig.h"

#include "support/AccountServiceFixture.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QtEndian>
#include <sys/stat.h>
#include <unistd.h>

namespace {
bool write(const QString& path, const QByteArray& bytes, QFile::Permissions permissions)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size()
        && file.setPermissions(permissions);
}

quint32 crc32(const QByteArray& bytes)
{
    quint32 crc = 0xffffffffu;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

template <typename T>
void put(QByteArray& out, T value)
{
    const T little = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&little), sizeof little);
}
} // namespace

ReleaseRig::ReleaseRig()
{
    const Run made = tool({QStringLiteral("keygen"), QStringLiteral("--out"), keyPath()});
    if (made.status == 0)
        publicKey = QByteArray::fromBase64(made.out.trimmed().toLatin1());
}

ReleaseRig::Run ReleaseRig::tool(const QStringList& args)
{
    QProcess process;
    process.start(QStringLiteral(TARNEL_BINARY_DIR "/bin/tarnel-sign"), args);
    Run run;
    if (!process.waitForFinished(60000))
        return run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QString ReleaseRig::makeBundle(const QString& name, const QString& build, const QString& version,
                               const QString& program) const
{
    const QString app = dir.filePath(name + QStringLiteral("/tarnel.app"));
    QDir(app).removeRecursively();
    const QFile::Permissions plain = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    const QFile::Permissions runnable = plain | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    const QByteArray info = QStringLiteral("{\"build\":\"%1\",\"identifier\":\"com.tarnel.app\",\"version\":\"%2\"}\n")
                                .arg(build, version).toUtf8();
    QByteArray executable = "#!/bin/sh\necho tarnel\n";
    if (!program.isEmpty()) {
        QFile source(program);
        executable = source.open(QIODevice::ReadOnly) ? source.readAll() : QByteArray();
    }
    const bool made = write(app + QStringLiteral("/info.json"), info, plain)
        && write(app + QStringLiteral("/bin/tarnel"), executable, runnable)
        && write(app + QStringLiteral("/share/tarnel/notes.txt"), "release notes\n", plain)
        && QFile::link(QStringLiteral("../share/tarnel/notes.txt"), app + QStringLiteral("/bin/notes"));
    return made ? app : QString();
}

bool ReleaseRig::sign(const QString& bundle, const QString& key) const
{
    return tool({QStringLiteral("sign"), bundle, QStringLiteral("--key"), key.isEmpty() ? keyPath() : key}).status == 0;
}

QString ReleaseRig::pack(const QString& bundle, const QString& archive)
{
    const Run run = tool({QStringLiteral("pack"), bundle, QStringLiteral("--out"), archive});
    return run.status == 0 ? run.out.trimmed() : QString();
}

bool ReleaseRig::zipAsIs(const QString& bundle, const QString& archive)
{
    QFile::remove(archive);
    const QFileInfo folder(bundle);
    return QProcess::execute(QStringLiteral("bsdtar"), {QStringLiteral("--format"), QStringLiteral("zip"), QStringLiteral("-cf"),
                                                        archive, QStringLiteral("-C"), folder.path(), folder.fileName()}) == 0;
}

bool ReleaseRig::publish(const AccountServiceFixture& service, const QString& archive, const QString& version,
                         qint64 build, const QStringList& extra)
{
    const auto added = service.admin(QStringList{QStringLiteral("releases"), QStringLiteral("add"), QStringLiteral("--version"),
                                                 version, QStringLiteral("--build"), QString::number(build),
                                                 QStringLiteral("--file"), archive}
                                     + extra);
    return added.status == 0
        && service.admin({QStringLiteral("releases"), QStringLiteral("publish"), added.out.trimmed()}).status == 0;
}

void CraftedZip::addFile(const QString& name, const QByteArray& bytes, int mode)
{
    entries.append({name.toUtf8(), bytes, quint32(S_IFREG | mode)});
}

void CraftedZip::addLink(const QString& name, const QString& target)
{
    entries.append({name.toUtf8(), QFile::encodeName(target), quint32(S_IFLNK | 0777)});
}

void CraftedZip::addFolder(const QString& folder)
{
    QDirIterator it(folder, QDir::Files | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    const QDir base(QFileInfo(folder).path());
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString name = base.relativeFilePath(info.filePath());
        if (info.isSymLink()) {
            QByteArray raw(4096, '\0');
            const ssize_t n = ::readlink(QFile::encodeName(info.filePath()).constData(), raw.data(), size_t(raw.size()));
            entries.append({name.toUtf8(), raw.left(n > 0 ? n : 0), quint32(S_IFLNK | 0777)});
        } else {
            QFile file(info.filePath());
            file.open(QIODevice::ReadOnly);
            addFile(name, file.readAll(), info.isExecutable() ? 0755 : 0644);
        }
    }
}

bool CraftedZip::save(const QString& path) const
{
    QByteArray out;
    QByteArray directory;
    for (const Entry& entry : entries) {
        const quint32 offset = quint32(out.size());
        const quint32 crc = crc32(entry.bytes);
        const quint32 size = quint32(entry.bytes.size());
        put<quint32>(out, 0x04034b50);
        put<quint16>(out, 10); // version needed
        put<quint16>(out, 0);  // flags
        put<quint16>(out, 0);  // stored
        put<quint16>(out, 0);  // time
        put<quint16>(out, 0x21); // date 1980-01-01
        put<quint32>(out, crc);
        put<quint32>(out, size);
        put<quint32>(out, size);
        put<quint16>(out, quint16(entry.name.size()));
        put<quint16>(out, 0);
        out += entry.name + entry.bytes;

        put<quint32>(directory, 0x02014b50);
        put<quint16>(directory, 0x031e); // made by Unix
        put<quint16>(directory, 10);
        put<quint16>(directory, 0);
        put<quint16>(directory, 0);
        put<quint16>(directory, 0);
        put<quint16>(directory, 0x21);
        put<quint32>(directory, crc);
        put<quint32>(directory, size);
        put<quint32>(directory, size);
        put<quint16>(directory, quint16(entry.name.size()));
        put<quint16>(directory, 0);
        put<quint16>(directory, 0);
        put<quint16>(directory, 0);
        put<quint16>(directory, 0);
        put<quint32>(directory, entry.mode << 16);
        put<quint32>(directory, offset);
        directory += entry.name;
    }
    const quint32 start = quint32(out.size());
    out += directory;
    put<quint32>(out, 0x06054b50);
    put<quint16>(out, 0);
    put<quint16>(out, 0);
    put<quint16>(out, quint16(entries.size()));
    put<quint16>(out, quint16(entries.size()));
    put<quint32>(out, quint32(directory.size()));
    put<quint32>(out, start);
    put<quint16>(out, 0);
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(out) == out.size();
}
