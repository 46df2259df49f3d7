#include "servers/InstallScript.h"

#include "servers/RemoteDir.h"
#include "servers/ScriptOutput.h"

#include <QRegularExpression>

namespace {

const QString receiverEnd = QStringLiteral("TARNEL_RECEIVER_EOF");

Outcome<QString> require(const std::optional<QString>& text, const QString& name)
{
    if (!text || text->trimmed().isEmpty())
        return Outcome<QString>::failure(QStringLiteral("找不到内嵌的脚本：") + name);
    return Outcome<QString>::success(*text);
}

// The receiver goes into a quoted heredoc: its own text must not end it early.
Outcome<QString> heredocBody(const std::optional<QString>& receiver)
{
    const Outcome<QString> given = require(receiver, QStringLiteral("tarnel-receiver"));
    if (!given.ok())
        return given;
    QString body = given.value();
    if (body.contains(receiverEnd))
        return Outcome<QString>::failure(QStringLiteral("接收器里不能出现 heredoc 结束符"));
    while (body.startsWith(QLatin1Char('\n')) || body.startsWith(QLatin1Char('\r')))
        body.remove(0, 1);
    while (body.endsWith(QLatin1Char('\n')) || body.endsWith(QLatin1Char('\r')))
        body.chop(1);
    return Outcome<QString>::success(body);
}

} // namespace

bool InstallScript::isPublicLine(const QString& line)
{
    static const QRegularExpression pattern(
        QStringLiteral("^ssh-ed25519 [A-Za-z0-9+/]+={0,2} tarnel@[A-Za-z0-9._-]{1,40}\\z"));
    return pattern.match(line).hasMatch();
}

bool InstallScript::isComment(const QString& comment)
{
    static const QRegularExpression pattern(QStringLiteral("^tarnel@[A-Za-z0-9._-]{1,40}\\z"));
    return pattern.match(comment).hasMatch();
}

QString InstallScript::keyData(const QString& publicLine)
{
    const QStringList fields = publicLine.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return fields.size() >= 2 ? fields[1] : QString();
}

Outcome<QString> InstallScript::render(const Params& params, const std::optional<QString>& templateText,
    const std::optional<QString>& receiver)
{
    if (!RemoteDir::isValid(params.remoteDir))
        return Outcome<QString>::failure(RemoteDir::problemText());
    if (!isPublicLine(params.publicLine))
        return Outcome<QString>::failure(QStringLiteral("本机钥匙的公钥行不对"));
    if (!isComment(params.comment))
        return Outcome<QString>::failure(QStringLiteral("本机钥匙的注释不对"));
    const Outcome<QString> text = require(templateText, QStringLiteral("install.sh"));
    if (!text.ok())
        return text;
    const Outcome<QString> body = heredocBody(receiver);
    if (!body.ok())
        return body;
    QString script = text.value();
    script.replace(QLatin1String("__TARNEL_BASE__"), params.remoteDir);
    script.replace(QLatin1String("__TARNEL_PUBKEY__"), params.publicLine);
    script.replace(QLatin1String("__TARNEL_COMMENT__"), params.comment);
    return Outcome<QString>::success(script.replace(QLatin1String("__TARNEL_RECEIVER__"), body.value()));
}

Outcome<QString> InstallScript::renderDevice(const QString& base, const std::optional<QString>& templateText,
    const std::optional<QString>& receiver)
{
    const Outcome<QString> text = require(templateText, QStringLiteral("install-device.sh"));
    if (!text.ok())
        return text;
    const Outcome<QString> body = heredocBody(receiver);
    if (!body.ok())
        return body;
    if (!RemoteDir::isValid(base))
        return Outcome<QString>::failure(RemoteDir::problemText());
    QString script = text.value();
    script.replace(QLatin1String("__TARNEL_BASE__"), base);
    return Outcome<QString>::success(script.replace(QLatin1String("__TARNEL_RECEIVER__"), body.value()));
}

std::optional<Outcome<InstallScript::Installed>> InstallScript::parse(const QString& output)
{
    if (const auto rest = ScriptOutput::rest(output, QStringLiteral("TARNEL_INSTALL_OK"))) {
        bool numeric = false;
        Installed installed;
        installed.receiverVersion = rest->section(QLatin1Char(' '), 0, 0).toLongLong(&numeric);
        installed.base = rest->section(QLatin1Char(' '), 1);
        if (numeric && RemoteDir::isValidAbsolute(installed.base))
            return Outcome<Installed>::success(installed);
        return Outcome<Installed>::failure(QStringLiteral("服务器端报回的目录不安全，没有采用"));
    }
    if (const auto reason = ScriptOutput::rest(output, QStringLiteral("TARNEL_INSTALL_FAIL"))) {
        if (reason->startsWith(QLatin1String("badpath ")))
            return Outcome<Installed>::failure(QStringLiteral("服务器上的目录路径里有空格或特殊字符（")
                + reason->mid(8).left(100) + QStringLiteral("），tarnel 用不了：换一个路径只含字母、数字和 ._- 的目录"));
        return Outcome<Installed>::failure(QStringLiteral("服务器端安装失败：") + reason->left(100));
    }
    return std::nullopt;
}
