#include "servers/RulesScript.h"

#include "servers/RemoteDir.h"
#include "servers/ScriptOutput.h"
#include "state/Server.h"

const QList<QPair<QString, QString>>& RulesScript::toolNames()
{
    static const QList<QPair<QString, QString>> names = {
        {QStringLiteral("claude"), QStringLiteral("Claude Code（~/.claude/CLAUDE.md）")},
        {QStringLiteral("codex"), QStringLiteral("Codex（~/.codex/AGENTS.md）")},
        {QStringLiteral("gemini"), QStringLiteral("Gemini CLI（~/.gemini/GEMINI.md）")},
    };
    return names;
}

bool RulesScript::isToolKey(const QString& key)
{
    for (const auto& entry : toolNames()) {
        if (entry.first == key)
            return true;
    }
    return false;
}

QString RulesScript::shotsDir(const Server& server)
{
    const QString shots = QStringLiteral("/shots");
    if (server.remoteDir.startsWith(QLatin1String("~/")))
        return server.remoteDir + shots;
    if (server.setup.remoteDirAbsolute)
        return *server.setup.remoteDirAbsolute + shots;
    return server.remoteDir + shots;
}

QString RulesScript::ruleText(const QString& shotsDir)
{
    return QStringLiteral("<!-- >>> tarnel 截图规则（自动生成，别手改；移除 tarnel 时会整段删掉） >>> -->\n")
        + QStringLiteral("**📎 截图标记**：用户消息里出现 `shotN: ") + shotsDir
        + QStringLiteral("/xxxx.png`（旧版本写作 `截图N:`；或电脑本地路径）= 用户在电脑上截的图经 tarnel "
                         "传过来的，**必须先 Read 看图再回答**（路径里的 `~` 是你所在这台机器的家目录，按本机展开后再读）；"
                         "多张按 N 对应用户文字里的指代；文件 24 小时后自动清理，别把这些路径写进文档或代码。\n")
        + QStringLiteral("<!-- <<< tarnel 截图规则 <<< -->");
}

Outcome<QString> RulesScript::render(const QStringList& wanted, const QString& shotsDir,
    const std::optional<QString>& templateText)
{
    QStringList keys;
    for (const auto& entry : toolNames()) {
        if (wanted.contains(entry.first))
            keys.append(entry.first);
    }
    for (const QString& key : wanted) {
        if (!isToolKey(key))
            return Outcome<QString>::failure(QStringLiteral("不认识的工具：") + key.left(20));
    }
    QString dir = shotsDir;
    if (dir.endsWith(QLatin1String("/shots")))
        dir.chop(6);
    if (!RemoteDir::isValid(dir) && !RemoteDir::isValidAbsolute(dir))
        return Outcome<QString>::failure(RemoteDir::problemText());
    if (!templateText || templateText->trimmed().isEmpty())
        return Outcome<QString>::failure(QStringLiteral("找不到内嵌的脚本：rules.sh"));
    QString text = *templateText;
    text.replace(QLatin1String("__TARNEL_TOOLS__"), keys.join(QLatin1Char(' ')));
    return Outcome<QString>::success(text.replace(QLatin1String("__TARNEL_RULE_TEXT__"), ruleText(shotsDir)));
}

std::optional<QStringList> RulesScript::parse(const QString& output)
{
    const auto rest = ScriptOutput::rest(output, QStringLiteral("TARNEL_RULES_OK"));
    if (!rest)
        return std::nullopt;
    QStringList keys = rest->split(QLatin1Char(','), Qt::SkipEmptyParts);
    keys.removeIf([](const QString& key) { return !isToolKey(key); });
    keys.sort();
    return keys;
}
