#include "servers/InstallScript.h"

#include "servers/RemoteDir.h"
#include "servers/ScriptOutput.h"

#include <QRegularExpression>

namespace {

const QString receiverEnd = QStringLiteral("TARNEL_RECEIVER_EOF");

[[noreturn]] void fail(const QString& message) { throw ScriptError{message}; }

QString require(const std::optional<QString>& text, const QString& name)
{
    if (!text || text->trimmed().isEmpty())
        fail(QStringLiteral("找不到内嵌的脚本：") + name);
    return *text;
}

// The receiver goes into a quoted heredoc: its own text must not end it early.
QString heredocBody(const std::optional<QString>& receiver)
{
    QString body = require(receiver, QStringLiteral("tarnel-receiver"));
    if (body.contains(receiverEnd))
        fail(QStringLiteral("接收器里不能出现 heredoc 结束符"));
    while (body.startsWith(QLatin1Char('\n')) || body.startsWith(QLatin1Char('\r')))
        body.remove(0, 1);
    while (body.endsWith(QLatin1Char('\n')) || body.endsWith(QLatin1Char('\r')))
        body.chop(1);
    return body;
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

QString InstallScript::render(const Params& params, const std::optional<QString>& templateText,
    const std::optional<QString>& receiver)
{
    if (!RemoteDir::isValid(params.remoteDir))
        fail(RemoteDir::problemText());
    if (!isPublicLine(params.publicLine))
        fail(QStringLiteral("本机钥匙的公钥行不对"));
    if (!isComment(params.comment))
        fail(QStringLiteral("本机钥匙的注释不对"));
    QString text = require(templateText, QStringLiteral("install.sh"));
    const QString body = heredocBody(receiver);
    text.replace(QLatin1String("__TARNEL_BASE__"), params.remoteDir);
    text.replace(QLatin1String("__TARNEL_PUBKEY__"), params.publicLine);
    text.replace(QLatin1String("__TARNEL_COMMENT__"), params.comment);
    return text.replace(QLatin1String("__TARNEL_RECEIVER__"), body);
}

QString InstallScript::renderDevice(const QString& base, const std::optional<QString>& templateText,
    const std::optional<QString>& receiver)
{
    QString text = require(templateText, QStringLiteral("install-device.sh"));
    const QString body = heredocBody(receiver);
    if (!RemoteDir::isValid(base))
        fail(RemoteDir::problemText());
    text.replace(QLatin1String("__TARNEL_BASE__"), base);
    return text.replace(QLatin1String("__TARNEL_RECEIVER__"), body);
}

std::optional<InstallScript::Installed> InstallScript::parse(const QString& output, QString* failure)
{
    failure->clear();
    if (const auto rest = ScriptOutput::rest(output, QStringLiteral("TARNEL_INSTALL_OK"))) {
        bool numeric = false;
        Installed installed;
        installed.receiverVersion = rest->section(QLatin1Char(' '), 0, 0).toLongLong(&numeric);
        installed.base = rest->section(QLatin1Char(' '), 1);
        if (numeric && RemoteDir::isValidAbsolute(installed.base))
            return installed;
        *failure = QStringLiteral("服务器端报回的目录不安全，没有采用");
        return std::nullopt;
    }
    if (const auto reason = ScriptOutput::rest(output, QStringLiteral("TARNEL_INSTALL_FAIL"))) {
        if (reason->startsWith(QLatin1String("badpath ")))
            *failure = QStringLiteral("服务器上的目录路径里有空格或特殊字符（") + reason->mid(8).left(100)
                + QStringLiteral("），tarnel 用不了：换一个路径只含字母、数字和 ._- 的目录");
        else
            *failure = QStringLiteral("服务器端安装失败：") + reason->left(100);
    }
    return std::nullopt;
}
