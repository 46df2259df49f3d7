#include "servers/UninstallScript.h"

#include "servers/InstallScript.h"
#include "servers/RemoteDir.h"
#include "servers/ScriptOutput.h"

#include <QRegularExpression>

Outcome<QString> UninstallScript::render(const QString& base, const QString& comment, const QString& keyData,
    bool purge, const std::optional<QString>& templateText, bool revokeKey)
{
    static const QRegularExpression base64(QStringLiteral("^[A-Za-z0-9+/]+={0,2}\\z"));
    if (!RemoteDir::isValid(base))
        return Outcome<QString>::failure(RemoteDir::problemText());
    if (!InstallScript::isComment(comment))
        return Outcome<QString>::failure(QStringLiteral("本机钥匙的注释不对"));
    if (!keyData.isEmpty() && !base64.match(keyData).hasMatch())
        return Outcome<QString>::failure(QStringLiteral("本机钥匙的公钥行不对"));
    if (!templateText || templateText->trimmed().isEmpty())
        return Outcome<QString>::failure(QStringLiteral("找不到内嵌的脚本：uninstall.sh"));
    QString text = *templateText;
    text.replace(QLatin1String("__TARNEL_BASE__"), base);
    text.replace(QLatin1String("__TARNEL_COMMENT__"), comment);
    text.replace(QLatin1String("__TARNEL_KEYDATA__"), keyData);
    text.replace(QLatin1String("__TARNEL_REVOKE__"), revokeKey ? QStringLiteral("1") : QStringLiteral("0"));
    return Outcome<QString>::success(
        text.replace(QLatin1String("__TARNEL_PURGE__"), purge ? QStringLiteral("1") : QStringLiteral("0")));
}

Outcome<UninstallScript::Result> UninstallScript::parse(const QString& output)
{
    if (const auto fields = ScriptOutput::fields(output, QStringLiteral("TARNEL_UNINSTALL_OK"))) {
        Result result;
        result.removedLines = fields->value(0).toInt();
        result.purged = fields->value(1) == QLatin1String("1");
        return Outcome<Result>::success(result);
    }
    if (const auto reason = ScriptOutput::rest(output, QStringLiteral("TARNEL_UNINSTALL_FAIL")))
        return Outcome<Result>::failure(QStringLiteral("服务器端移除失败：") + *reason);
    return Outcome<Result>::failure(QStringLiteral("服务器端移除没有返回结果"));
}
