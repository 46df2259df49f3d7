#include "ui/panel/ServerCardModel.h"

#include "servers/EmbeddedScripts.h"
#include "servers/InstallScript.h"
#include "servers/ServerAddress.h"
#include "state/Text.h"

namespace {
using Kind = ServerRegistry::Status::Kind;
} // namespace

ServerCardModel::Line ServerCardModel::statusLine(const Server& server, const Status& status, int doneToday,
    const QDateTime& now)
{
    switch (status.kind) {
    case Kind::connecting: {
        const qint64 seconds = std::max<qint64>(0, status.since.msecsTo(now) / 1000);
        return {ConnectFlow::stageText(status.stage) + QStringLiteral("… ") + QString::number(seconds)
                    + QStringLiteral(" 秒"),
            QStringLiteral("orange")};
    }
    case Kind::connected:
        return {QStringLiteral("已连接 · ") + status.user + QLatin1Char('@') + server.host + QStringLiteral(" · ")
                    + (server.enabled ? QStringLiteral("同步开") : QStringLiteral("同步关")) + QStringLiteral(" · 今天 ")
                    + QString::number(doneToday) + QStringLiteral(" 张"),
            QStringLiteral("green")};
    case Kind::failed: return {status.message, QStringLiteral("red")};
    case Kind::unknown: break;
    }
    return {QStringLiteral("等待检测…"), QStringLiteral("secondary")};
}

ServerCardModel::Dot ServerCardModel::dot(const Status& status)
{
    switch (status.kind) {
    case Kind::connecting: return {QStringLiteral("orange"), false, true};
    case Kind::connected: return {QStringLiteral("green"), true, false};
    case Kind::failed: return {QStringLiteral("red"), false, false};
    case Kind::unknown: break;
    }
    return {QStringLiteral("gray"), false, false};
}

ServerCardModel::Border ServerCardModel::border(const Status& status, bool highlighted)
{
    const double width = highlighted ? 1.5 : 1.0;
    switch (status.kind) {
    case Kind::connecting: return {QStringLiteral("orange"), 0.5, width};
    case Kind::connected: return {QStringLiteral("green"), highlighted ? 0.9 : 0.5, width};
    case Kind::failed: return {QStringLiteral("red"), 0.5, width};
    case Kind::unknown: break;
    }
    return {QStringLiteral("separator"), 1.0, width};
}

QString ServerCardModel::portSuffix(const Server& server)
{
    return server.port == 22 ? QString() : QLatin1Char(':') + QString::number(server.port);
}

std::optional<QString> ServerCardModel::hostnameBeside(const Server& server, const Status& status)
{
    if (status.kind == Kind::connected && status.hostname && !status.hostname->isEmpty() && *status.hostname != server.host)
        return status.hostname;
    return std::nullopt;
}

bool ServerCardModel::showsSync(const Server& server, const Status& status)
{
    return status.kind == Kind::connected || (server.setup.lastProbe && server.setup.lastProbe->ok);
}

bool ServerCardModel::showsCredentials(const Status& status)
{
    return status.kind == Kind::failed && (status.needsPassword || status.needsLoginName);
}

QString ServerCardModel::loginName(const QString& typed)
{
    return trimBlanks(typed);
}

std::optional<QString> ServerCardModel::loginNameProblem(const QString& typed)
{
    const Outcome<> checked = ServerAddress::checkUser(loginName(typed));
    if (checked.ok())
        return std::nullopt;
    return checked.failure().isEmpty() ? QStringLiteral("用户名不对") : checked.failure();
}

QString ServerCardModel::deviceScript(const Server& server)
{
    const Outcome<QString> script = InstallScript::renderDevice(server.remoteDir,
        EmbeddedScripts::load(QStringLiteral("install-device.sh")), EmbeddedScripts::load(QStringLiteral("tarnel-receiver")));
    return script.ok() ? script.value() : QStringLiteral("（找不到内嵌的安装脚本）");
}

QString ServerCardModel::deviceScriptTitle(const Server& server)
{
    return QStringLiteral("连接时会经 tarnel-net 隧道在「") + server.name
        + QStringLiteral("」上跑这段脚本（只放接收器，不碰它的 ~/.ssh）");
}
