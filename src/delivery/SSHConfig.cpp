#include "delivery/SSHConfig.h"

#include "state/AtomicFile.h"
#include "state/Log.h"
#include "state/Paths.h"

#include <QCryptographicHash>
#include <QRegularExpression>

namespace {

const QString header = QStringLiteral(
    "# tarnel 自动生成，别手改。每台服务器 / 设备一段；用的是 tarnel 自己的钥匙（服务器上只能放图）。\n");

struct Jump {
    std::optional<QString> user;
    QString host;
    std::optional<int> port;
};

bool matches(const QString& pattern, const QString& text)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(text).hasMatch();
}

bool isIPv6(const QString& host)
{
    return host.count(QLatin1Char(':')) >= 2 && matches(QStringLiteral("[0-9A-Fa-f:.]+"), host);
}

std::optional<Jump> parseJump(const QString& text)
{
    Jump jump;
    QString rest = text;
    const qsizetype at = rest.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        jump.user = rest.left(at);
        rest = rest.mid(at + 1);
        if (!SSHConfig::isValidUser(*jump.user))
            return std::nullopt;
    }
    QString portText;
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return std::nullopt;
        jump.host = rest.mid(1, close - 1);
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(QLatin1Char(':')))
                return std::nullopt;
            portText = after.mid(1);
            if (portText.isEmpty())
                return std::nullopt;
        }
    } else if (rest.count(QLatin1Char(':')) == 1) {
        jump.host = rest.section(QLatin1Char(':'), 0, 0);
        portText = rest.section(QLatin1Char(':'), 1);
        if (portText.isEmpty())
            return std::nullopt;
    } else {
        jump.host = rest;
    }
    if (!SSHConfig::isValidHost(jump.host))
        return std::nullopt;
    if (!portText.isEmpty()) {
        bool number = false;
        const int port = portText.toInt(&number);
        if (!number || port < 1 || port > 65535 || !matches(QStringLiteral("[0-9]+"), portText))
            return std::nullopt;
        if (port != 22)
            jump.port = port;
    }
    return jump;
}

QString sharedLines(const QString& controlPath)
{
    return QStringLiteral(
               "  BatchMode yes\n"
               "  PasswordAuthentication no\n"
               "  KbdInteractiveAuthentication no\n"
               "  ForwardAgent no\n"
               "  ForwardX11 no\n"
               "  ClearAllForwardings yes\n"
               "  RequestTTY no\n"
               "  ControlMaster auto\n"
               "  ControlPath %1\n"
               "  ControlPersist 120\n"
               "  ServerAliveInterval 15\n"
               "  ServerAliveCountMax 4\n"
               "  ConnectTimeout 15\n"
               "  LogLevel ERROR\n")
        .arg(controlPath);
}

QString serverBlock(const Server& server, const QString& identity, const QString& knownHosts,
    const QString& controlPath)
{
    QString block = QStringLiteral("\nHost ") + SSHConfig::alias(server) + QStringLiteral("\n  HostName ") +
        server.host + QStringLiteral("\n  Port ") + QString::number(server.port) + QLatin1Char('\n');
    if (server.user && !server.user->isEmpty())
        block += QStringLiteral("  User %1\n").arg(*server.user);
    if (server.proxyJump && !server.proxyJump->isEmpty()) {
        const Jump jump = *parseJump(*server.proxyJump);
        QString command = QStringLiteral("/usr/bin/ssh -o BatchMode=yes -W \"[%h]:%p\"");
        if (jump.port)
            command += QStringLiteral(" -p %1").arg(*jump.port);
        if (jump.user)
            command += QStringLiteral(" -l %1").arg(*jump.user);
        command += QStringLiteral(" -- ") + jump.host;
        block += QStringLiteral("  ProxyCommand %1\n").arg(command);
    }
    block += QStringLiteral("  IdentityFile %1\n  IdentitiesOnly yes\n").arg(identity);
    block += QStringLiteral("  UserKnownHostsFile %1 \"~/.ssh/known_hosts\"\n").arg(knownHosts);
    block += QStringLiteral("  StrictHostKeyChecking accept-new\n");
    return block + sharedLines(controlPath);
}

QStringList deviceLines(const Server& server, const QString& net, const QString& state, const QString& identity,
    const QString& knownHosts)
{
    return {
        QStringLiteral("ProxyCommand %1 dial --state %2 %3 22").arg(net, state, *server.deviceID),
        QStringLiteral("User %1").arg(*server.user),
        QStringLiteral("HostKeyAlias %1").arg(*server.deviceAlias),
        QStringLiteral("IdentityFile %1").arg(identity),
        QStringLiteral("IdentitiesOnly yes"),
        QStringLiteral("UserKnownHostsFile %1").arg(knownHosts),
        QStringLiteral("StrictHostKeyChecking accept-new"),
    };
}

QString deviceBlock(const Server& server, const QString& net, const QString& state, const QString& identity,
    const QString& knownHosts, const QString& controlPath)
{
    QString block = QStringLiteral("\nHost %1\n").arg(*server.deviceAlias);
    for (const QString& line : deviceLines(server, net, state, identity, knownHosts))
        block += QStringLiteral("  ") + line + QLatin1Char('\n');
    return block + sharedLines(controlPath);
}

} // namespace

bool SSHConfig::isValidHost(const QString& host)
{
    if (host.isEmpty() || host.size() > 253)
        return false;
    return isIPv6(host) || matches(QStringLiteral("[A-Za-z0-9_][A-Za-z0-9._-]*"), host);
}

bool SSHConfig::isValidUser(const QString& user)
{
    return matches(QStringLiteral("[A-Za-z0-9_][A-Za-z0-9._-]{0,63}"), user);
}

// A path goes between double quotes; ssh expands %-tokens in it, so a literal % is doubled. `suffix` is
// appended as it is (it may hold ssh's own tokens). A ProxyCommand line goes through sh, which expands $
// and backticks inside double quotes, and ssh itself expands ${...}: such paths are refused, as are
// backslashes, which escape within quotes.
std::optional<QString> SSHConfig::quotedPath(const QString& path, const QString& suffix)
{
    for (const QChar c : path)
        if (c == QLatin1Char('"') || c == QLatin1Char('$') || c == QLatin1Char('`') || c == QLatin1Char('\\') ||
            c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            return std::nullopt;
    if (!path.startsWith(QLatin1Char('/')))
        return std::nullopt;
    QString escaped = path;
    escaped.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return QLatin1Char('"') + escaped + suffix + QLatin1Char('"');
}

bool SSHConfig::isValidDeviceAlias(const QString& alias) { return matches(QStringLiteral("qx-[a-z0-9-]{1,24}"), alias); }

bool SSHConfig::isValidDeviceID(const QString& id) { return matches(QStringLiteral("[A-Za-z0-9._-]{1,64}"), id); }

bool SSHConfig::isValidDeviceUser(const QString& user)
{
    return matches(QStringLiteral("[A-Za-z0-9._][A-Za-z0-9._-]{0,31}"), user);
}

std::optional<QString> SSHConfig::canonicalJump(const QString& text)
{
    const auto jump = parseJump(text.trimmed());
    if (!jump)
        return std::nullopt;
    QString result = jump->user ? *jump->user + QLatin1Char('@') : QString();
    if (jump->port)
        result += (isIPv6(jump->host) ? QLatin1Char('[') + jump->host + QLatin1Char(']') : jump->host) +
            QLatin1Char(':') + QString::number(*jump->port);
    else
        result += jump->host;
    return result;
}

QString SSHConfig::unresolvedHost(const QString& stderr, const QString& fallback)
{
    static const QRegularExpression said(QStringLiteral("Could not resolve hostname ([^\\s:]+)"));
    const QRegularExpressionMatch match = said.match(stderr);
    return match.hasMatch() ? match.captured(1).left(253) : fallback;
}

QString SSHConfig::alias(const Server& server)
{
    if (server.isDevice())
        return server.deviceAlias.value_or(QString());
    return QStringLiteral("tarnel-") + server.id.toString(QUuid::WithoutBraces).toLower();
}

QString SSHConfig::controlSocket(const Server& server, const QString& controlDirectory)
{
    const QStringList reached { alias(server), server.host, QString::number(server.port), server.user.value_or(QString()),
        server.proxyJump.value_or(QString()), server.deviceID.value_or(QString()) };
    const QByteArray hash = QCryptographicHash::hash(reached.join(QLatin1Char('\n')).toUtf8(), QCryptographicHash::Sha1);
    return controlDirectory + QStringLiteral("/cm-") + QString::fromLatin1(hash.toHex());
}

Outcome<> SSHConfig::check(const Server& server, const Context& context)
{
    if (server.isDevice()) {
        if (!context.netBinary)
            return Outcome<>::failure(QStringLiteral("找不到 tarnel-net，连不了设备"));
        if (!server.deviceAlias || !isValidDeviceAlias(*server.deviceAlias))
            return Outcome<>::failure(QStringLiteral("设备别名不合规"));
        if (!isValidDeviceID(*server.deviceID))
            return Outcome<>::failure(QStringLiteral("设备编号不合规"));
        if (!server.user || server.user->isEmpty())
            return Outcome<>::failure(QStringLiteral("设备没有登录名"));
        if (!isValidDeviceUser(*server.user))
            return Outcome<>::failure(QStringLiteral("登录名里有不安全的字符"));
        return Outcome<>::success();
    }
    if (!isValidHost(server.host))
        return Outcome<>::failure(QStringLiteral("地址里有不安全的字符"));
    if (server.port < 1 || server.port > 65535)
        return Outcome<>::failure(QStringLiteral("端口不对"));
    if (server.user && !server.user->isEmpty() && !isValidUser(*server.user))
        return Outcome<>::failure(QStringLiteral("登录名里有不安全的字符"));
    if (server.proxyJump && !server.proxyJump->isEmpty() && !parseJump(*server.proxyJump))
        return Outcome<>::failure(QStringLiteral("跳板机写法不对（应为 [用户@]主机[:端口]）"));
    return Outcome<>::success();
}

std::optional<QStringList> SSHConfig::deviceOptions(const Server& server, const Context& context)
{
    const auto identity = quotedPath(context.dataDirectory + QStringLiteral("/id_ed25519"));
    const auto knownDevices = quotedPath(context.dataDirectory + QStringLiteral("/known_hosts_devices"));
    const auto state = quotedPath(context.dataDirectory + QStringLiteral("/net"));
    const auto net = context.netBinary ? quotedPath(*context.netBinary) : std::nullopt;
    if (!server.isDevice() || !check(server, context).ok() || !identity || !knownDevices || !state || !net)
        return std::nullopt;
    return deviceLines(server, *net, *state, *identity, *knownDevices);
}

SSHConfig::Context SSHConfig::currentContext()
{
    return Context { Paths::dataDirectory(), Paths::controlDirectory(), Paths::netBinary() };
}

QString SSHConfig::path() { return Paths::inData(QStringLiteral("ssh_config")); }

SSHConfig::Rendered SSHConfig::render(const QList<Server>& servers, const Context& context)
{
    Rendered rendered;
    rendered.text = header;
    const auto identity = quotedPath(context.dataDirectory + QStringLiteral("/id_ed25519"));
    const auto knownHosts = quotedPath(context.dataDirectory + QStringLiteral("/known_hosts"));
    const auto knownDevices = quotedPath(context.dataDirectory + QStringLiteral("/known_hosts_devices"));
    const auto controlPath = quotedPath(context.controlDirectory);
    const auto state = quotedPath(context.dataDirectory + QStringLiteral("/net"));
    const auto net = context.netBinary ? quotedPath(*context.netBinary) : std::nullopt;
    if (!identity || !knownHosts || !knownDevices || !controlPath || !state) {
        for (const Server& server : servers)
            rendered.skipped << QStringLiteral("ssh_config：数据目录的路径里有引号、$、反引号、反斜杠或控制字符，没法写入 ") +
                    alias(server);
        return rendered;
    }

    Context usable = context;
    if (context.netBinary && !net)
        usable.netBinary.reset();
    QStringList aliases;
    for (const Server& server : servers) {
        Outcome<> usableHere = check(server, usable);
        // ssh takes the first block that matches: a second destination under one name would reach the first.
        if (usableHere.ok() && aliases.contains(alias(server)))
            usableHere = Outcome<>::failure(QStringLiteral("和另一台用了同一个别名"));
        if (!usableHere.ok()) {
            QString name = server.name;
            name.replace(QRegularExpression(QStringLiteral("[\\x00-\\x1f\\x7f]")), QStringLiteral(" "));
            rendered.skipped << QStringLiteral("ssh_config：略过「%1」（%2）").arg(name, usableHere.failure());
            continue;
        }
        aliases << alias(server);
        const QString control = *quotedPath(controlSocket(server, context.controlDirectory));
        rendered.text += server.isDevice()
            ? deviceBlock(server, *net, *state, *identity, *knownDevices, control)
            : serverBlock(server, *identity, *knownHosts, control);
    }
    return rendered;
}

Outcome<> SSHConfig::write(const QList<Server>& servers)
{
    const Rendered rendered = render(servers, currentContext());
    for (const QString& line : rendered.skipped)
        Log::write(line);
    Paths::ensure(Paths::dataDirectory());
    const Outcome<> written = AtomicFile::write(path(), rendered.text.toUtf8(), 0600);
    if (!written.ok())
        Log::write(QStringLiteral("ssh_config：写入失败 ") + written.failure());
    return written;
}
