#include "ui/panel/ServerAdvancedModel.h"

#include "delivery/SSHKey.h"
#include "servers/EmbeddedScripts.h"
#include "servers/InstallScript.h"
#include "servers/RemoteDir.h"
#include "servers/RulesScript.h"
#include "servers/ServerAddress.h"
#include "state/Text.h"

#include <QRegularExpression>

namespace {

// Decimal as typed: an optional sign, then digits only; none outside 1…65535.
std::optional<int> parsePort(const QString& text)
{
    static const QRegularExpression decimal(QStringLiteral("^[+-]?[0-9]+\\z"));
    if (!decimal.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (!ok || value < 1 || value > 65535)
        return std::nullopt;
    return int(value);
}

} // namespace

ServerAdvancedModel::Fields ServerAdvancedModel::load(const Server& server)
{
    Fields f;
    f.name = server.name;
    f.user = server.user.value_or(QString());
    f.port = QString::number(server.port);
    f.proxyJump = server.proxyJump.value_or(QString());
    f.remoteDir = server.remoteDir;
    f.keywords = server.matchKeywords.join(QStringLiteral(", "));
    f.smartOnly = server.smartOnly;
    return f;
}

Outcome<Server> ServerAdvancedModel::edited(const Server& stored, const Fields& fields)
{
    const auto port = parsePort(fields.port);
    if (!port)
        return Outcome<Server>::failure(QStringLiteral("端口要在 1～65535"));
    const QString user = trimBlanks(fields.user);
    if (!user.isEmpty()) {
        const Outcome<> checked = ServerAddress::checkUser(user);
        if (!checked.ok())
            return Outcome<Server>::failure(checked.failure());
    }
    const QString jumpText = trimBlanks(fields.proxyJump);
    std::optional<QString> jump;
    if (!jumpText.isEmpty()) {
        // Stored as ssh_config needs it ("ssh user@jump" typed from habit would break every upload).
        const Outcome<ServerAddress> parsed = ServerAddress::parse(jumpText);
        if (!parsed.ok())
            return Outcome<Server>::failure(QStringLiteral("跳板写法：user@host 或 user@host:端口"));
        jump = parsed.value().canonical();
    }
    const QString dir = trimBlanks(fields.remoteDir);
    if (!RemoteDir::isValid(dir))
        return Outcome<Server>::failure(QStringLiteral("远程目录要像 ~/tarnel 这样"));

    Server next = stored;
    const QString name = trimBlanks(fields.name);
    next.name = name.isEmpty() ? stored.host : name;
    next.user = user.isEmpty() ? std::nullopt : std::optional<QString>(user);
    next.port = *port;
    next.proxyJump = jump;
    next.remoteDir = dir;
    next.matchKeywords = keywords(fields.keywords);
    next.smartOnly = fields.smartOnly;
    return Outcome<Server>::success(next);
}

QStringList ServerAdvancedModel::keywords(const QString& text)
{
    static const QRegularExpression separators(QStringLiteral("[,\\x{FF0C}\\n\\x{0B}\\f\\r\\x{0085}\\x{2028}\\x{2029}]"));
    QStringList words;
    for (const QString& piece : text.split(separators)) {
        const QString word = trimBlanks(piece);
        if (!word.isEmpty())
            words << word;
    }
    return words;
}

QString ServerAdvancedModel::title(const std::optional<Server>& stored)
{
    return QStringLiteral("高级 · ") + (stored ? stored->name : QString());
}

bool ServerAdvancedModel::canRunOnServer(const std::optional<Server>& stored)
{
    return stored && stored->setup.keyInstalled;
}

QString ServerAdvancedModel::passwordTitle(PasswordAction action)
{
    return action == PasswordAction::rules ? QStringLiteral("写规则块要用你的登录，再输一次密码")
                                           : QStringLiteral("吊销钥匙要用你的登录，再输一次密码");
}

QString ServerAdvancedModel::rulePreview(const std::optional<Server>& stored)
{
    return RulesScript::ruleText(stored ? RulesScript::shotsDir(*stored) : QStringLiteral("~/tarnel/shots"));
}

QString ServerAdvancedModel::installScript(const Server& stored, const std::optional<QString>& publicLine,
    const QString& machineName)
{
    const QString comment = SSHKey::comment(machineName);
    const InstallScript::Params params{stored.remoteDir,
        publicLine.value_or(QStringLiteral("ssh-ed25519 AAAA… ") + comment), comment};
    const Outcome<QString> script = InstallScript::render(params, EmbeddedScripts::load(QStringLiteral("install.sh")),
        EmbeddedScripts::load(QStringLiteral("tarnel-receiver")));
    return script.ok() ? script.value() : QStringLiteral("（还没生成钥匙）");
}
