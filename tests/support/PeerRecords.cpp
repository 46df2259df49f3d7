#include "support/PeerRecords.h"

#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>

namespace PeerRecords {

QString freshKeyLine(const QString& comment)
{
    QTemporaryDir dir;
    const QString key = dir.filePath(QStringLiteral("k"));
    QProcess keygen;
    keygen.start(QStringLiteral("ssh-keygen"), {"-q", "-t", "ed25519", "-N", "", "-C", comment, "-f", key});
    if (!keygen.waitForFinished(20000) || keygen.exitCode() != 0)
        return {};
    QFile pub(key + QStringLiteral(".pub"));
    if (!pub.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(pub.readAll()).trimmed();
}

PeerDevice usable(const QString& id, const QString& alias, const QString& user)
{
    PeerDevice peer;
    peer.id = id;
    peer.name = alias;
    peer.alias = alias;
    peer.sshUser = user;
    peer.sshPubKey = freshKeyLine(QStringLiteral("client"));
    peer.hostPubKey = freshKeyLine(QStringLiteral("host"));
    peer.online = true;
    return peer;
}

QJsonObject script(const QList<PeerDevice>& peers, bool siteOk)
{
    QJsonArray list;
    for (const PeerDevice& peer : peers)
        list.append(peer.toJson());
    return {{QStringLiteral("status"),
             QJsonObject{{QStringLiteral("version"), QStringLiteral("fake")},
                         {QStringLiteral("site"), QJsonObject{{QStringLiteral("ok"), siteOk}}},
                         {QStringLiteral("peers"), list}}}};
}

} // namespace PeerRecords
