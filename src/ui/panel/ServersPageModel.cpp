#include "ui/panel/ServersPageModel.h"

#include "delivery/HotkeySpec.h"

QList<Server> ServersPageModel::listed() const
{
    QList<Server> plain;
    for (const Server& server : facts.servers)
        if (!server.isDevice())
            plain << server;
    return plain;
}

ServersPageModel::Bar ServersPageModel::bar() const
{
    if (!facts.settings.onboardingDone)
        return Bar::onboarding;
    if (!facts.accessibilityTrusted && facts.settings.pasteMode != PasteMode::zeroPermission)
        return Bar::accessibility;
    return Bar::none;
}

QString ServersPageModel::pasteHotkey() const
{
    return HotkeySpec::parseOr(facts.settings.hotkeyPaste, QStringLiteral("⌥⌘3")).desktopText();
}

QString ServersPageModel::accessibilityDetail() const
{
    return QStringLiteral("按 ") + pasteHotkey()
        + QStringLiteral(" 时 tarnel 要把「shotN: 路径」打进终端，这要 X 服务器的 XTest 扩展；它不读你的键盘。");
}

int ServersPageModel::connectedCount() const
{
    int count = 0;
    for (const Server& server : facts.servers)
        if (!server.isDevice() && facts.statuses.value(server.id, ServerRegistry::Status::Kind::unknown)
                == ServerRegistry::Status::Kind::connected)
            ++count;
    return count;
}

QString ServersPageModel::footer() const
{
    if (facts.dataOverride)
        return QStringLiteral("测试数据目录：") + *facts.dataOverride;
    return QString::number(connectedCount()) + QStringLiteral(" 台已连接 · 今天 ") + QString::number(facts.todayCount)
        + QStringLiteral(" 张 · 截图 Ctrl+C 后自动传，终端里按 ") + pasteHotkey() + QStringLiteral(" 粘路径");
}

QList<SSHSession> ServersPageModel::suggestions(const QList<SSHSession>& sessions, const QList<Server>& servers)
{
    QList<SSHSession> offered;
    for (const SSHSession& session : sessions) {
        const int port = session.port.value_or(22);
        const bool listed = std::any_of(servers.begin(), servers.end(), [&](const Server& server) {
            return server.host.compare(session.host, Qt::CaseInsensitive) == 0 && server.port == port;
        });
        if (!listed)
            offered << session;
    }
    return offered;
}

bool ServersPageModel::canConnect(const QString& typed)
{
    return std::any_of(typed.begin(), typed.end(),
        [](QChar c) { return c != QLatin1Char(' ') && c != QLatin1Char('\t'); });
}
