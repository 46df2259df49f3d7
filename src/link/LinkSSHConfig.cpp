#include "link/LinkSSHConfig.h"

#include "delivery/SSHConfig.h"

#include <QRegularExpression>
#include <QtEndian>

const QString LinkSSHConfig::aliasPattern = QStringLiteral("^qx-[a-z0-9-]{1,24}$");

namespace {

const QString configHeader = QStringLiteral(
    "# tarnel 自动生成（设备互联），别手改。每台同账号设备一段；ProxyCommand 经 tarnel-net 的 P2P 通道，不走公网 22 口。\n");
const QString knownHostsHeader = QStringLiteral("# tarnel 自动生成（设备互联）：同账号设备的主机钥匙，按别名钉死。\n");

// Words separated by runs of U+0020 only; a tab is part of a word.
QStringList blankWords(const QString& text) { return text.split(QLatin1Char(' '), Qt::SkipEmptyParts); }

bool offersHostKey(const QStringList& words)
{
    return words.size() >= 2 &&
        (words[0].startsWith(QLatin1String("ssh-")) || words[0].startsWith(QLatin1String("ecdsa-")));
}

// The key type is a plain name, and the key data is base64 of a blob that starts with that same name.
bool wellFormedHostKey(const QString& type, const QString& data)
{
    static const QRegularExpression typePattern(QStringLiteral("^(ssh|ecdsa)-[A-Za-z0-9@._+-]{1,60}$"));
    static const QRegularExpression dataPattern(QStringLiteral("^[A-Za-z0-9+/]+={0,2}$"));
    if (!typePattern.match(type).hasMatch() || !dataPattern.match(data).hasMatch())
        return false;
    const auto decoded = QByteArray::fromBase64Encoding(data.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() < 4)
        return false;
    const QByteArray& blob = decoded.decoded;
    const quint32 length = qFromBigEndian<quint32>(blob.constData());
    return length == quint32(type.size()) && blob.mid(4, int(length)) == type.toLatin1();
}

// Line breaks and other control characters; a tab is left to the word checks.
bool holdsLineBreaks(const QString& text)
{
    for (const QChar c : text)
        if ((c.category() == QChar::Other_Control && c != QLatin1Char('\t')) || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            return true;
    return false;
}

} // namespace

bool LinkSSHConfig::aliasValid(const QString& alias) { return SSHConfig::isValidDeviceAlias(alias); }

bool LinkSSHConfig::hasBlock(const PeerDevice& peer)
{
    return aliasValid(peer.alias) && !peer.id.isEmpty() && !peer.sshUser.isEmpty() && !hostility(peer);
}

std::optional<QString> LinkSSHConfig::hostility(const PeerDevice& peer)
{
    if (!peer.id.isEmpty() && !SSHConfig::isValidDeviceID(peer.id))
        return QStringLiteral("设备编号不合规");
    if (!peer.sshUser.isEmpty() && !SSHConfig::isValidDeviceUser(peer.sshUser))
        return QStringLiteral("登录名不合规");
    if (holdsLineBreaks(peer.hostPubKey))
        return QStringLiteral("主机钥匙里有换行或控制字符");
    const QStringList words = blankWords(peer.hostPubKey);
    if (offersHostKey(words) && !wellFormedHostKey(words[0], words[1]))
        return QStringLiteral("主机钥匙格式不对");
    return std::nullopt;
}

std::optional<QString> LinkSSHConfig::hostKeyLine(const PeerDevice& peer)
{
    const QStringList words = blankWords(peer.hostPubKey);
    if (!offersHostKey(words) || !aliasValid(peer.alias) || !wellFormedHostKey(words[0], words[1]))
        return std::nullopt;
    return peer.alias + QLatin1Char(' ') + words[0] + QLatin1Char(' ') + words[1];
}

std::optional<QString> LinkSSHConfig::render(const QList<PeerDevice>& peers, const Locations& where, int linkPort)
{
    const auto net = SSHConfig::quotedPath(where.netBinary);
    const auto state = SSHConfig::quotedPath(where.stateDir);
    const auto identity = SSHConfig::quotedPath(where.dataDir + QStringLiteral("/id_ed25519"));
    const auto knownHosts = SSHConfig::quotedPath(where.dataDir + QStringLiteral("/known_hosts_devices"));
    if (!net || !state || !identity || !knownHosts)
        return std::nullopt;
    QString text = configHeader;
    for (const PeerDevice& peer : peers) {
        if (!hasBlock(peer))
            continue;
        text += QStringLiteral("\nHost %1\n").arg(peer.alias);
        text += QStringLiteral("  ProxyCommand %1 dial --state %2 %3 %4\n").arg(*net, *state, peer.id).arg(linkPort);
        text += QStringLiteral("  User %1\n").arg(peer.sshUser);
        text += QStringLiteral("  HostKeyAlias %1\n").arg(peer.alias);
        text += QStringLiteral("  IdentityFile %1\n").arg(*identity);
        text += QStringLiteral("  IdentitiesOnly yes\n");
        text += QStringLiteral("  UserKnownHostsFile %1\n").arg(*knownHosts);
        text += QStringLiteral("  StrictHostKeyChecking %1\n").arg(hostKeyLine(peer) ? QStringLiteral("yes") : QStringLiteral("accept-new"));
        text += QStringLiteral("  ForwardAgent no\n"
                               "  ServerAliveInterval 20\n"
                               "  ServerAliveCountMax 6\n"
                               "  ConnectTimeout 20\n"
                               "  LogLevel ERROR\n");
    }
    return text;
}

QString LinkSSHConfig::renderKnownHosts(const QList<PeerDevice>& peers)
{
    QString text = knownHostsHeader;
    for (const PeerDevice& peer : peers) {
        if (hostility(peer))
            continue;
        if (const auto line = hostKeyLine(peer))
            text += *line + QLatin1Char('\n');
    }
    return text;
}

QString LinkSSHConfig::aliasSlug(const QString& name) { return SelfDevice::aliasSlug(name); }

QString LinkSSHConfig::fingerprint(const QList<PeerDevice>& peers)
{
    QStringList parts;
    for (const PeerDevice& peer : peers)
        parts << QStringList{peer.id, peer.alias, peer.sshUser, peer.sshPubKey, peer.hostPubKey}.join(QLatin1Char('|'));
    parts.sort();
    return parts.join(QLatin1Char('\n'));
}
