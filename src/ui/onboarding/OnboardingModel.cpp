#include "ui/onboarding/OnboardingModel.h"

#include "delivery/HotkeySpec.h"
#include "delivery/PasteController.h"
#include "delivery/ReceiverClient.h"

QString OnboardingModel::pasteKey() const
{
    return HotkeySpec::parseOr(f.settings.hotkeyPaste, QStringLiteral("⌥⌘3")).desktopText();
}

QString OnboardingModel::panelKey() const
{
    return HotkeySpec::parseOr(f.settings.hotkeyPanel, QStringLiteral("⌥⌘4")).desktopText();
}

QString OnboardingModel::intro() const
{
    return QStringLiteral("截图 Ctrl+C → 自动传到你的服务器或另一台电脑 → 终端里按 ") + pasteKey()
        + QStringLiteral(" 粘路径给 AI 看；也能一键 SSH 进自己的另一台电脑。下面几步每步都能跳过，做好的会自动打勾。");
}

bool OnboardingModel::accessibilityDone() const
{
    return f.trusted || f.settings.pasteMode == PasteMode::zeroPermission;
}

bool OnboardingModel::targetDone() const { return !f.settings.onboardingTarget.isEmpty(); }

OnboardingModel::Target OnboardingModel::target() const
{
    const QString& tag = f.settings.onboardingTarget;
    if (tag == QLatin1String("server"))
        return Target::server;
    if (tag == QLatin1String("device"))
        return Target::device;
    if (tag == QLatin1String("none"))
        return Target::none;
    return Target::noChoice;
}

bool OnboardingModel::setupDone() const
{
    switch (target()) {
    case Target::server: return connectedServer().has_value();
    case Target::device: return f.peerCount > 0 || f.settings.remoteAccess;
    case Target::none: return true;
    case Target::noChoice: return false;
    }
    return false;
}

int OnboardingModel::activeStep() const
{
    if (!accessibilityDone())
        return 1;
    if (!targetDone())
        return 2;
    if (!setupDone())
        return 3;
    return 4;
}

OnboardingModel::Frame OnboardingModel::frame(int step) const
{
    switch (step) {
    case 1: return {accessibilityDone(), !accessibilityDone(), false};
    case 2: return {targetDone(), accessibilityDone() && !targetDone(), true};
    case 3: {
        const bool chosen = target() == Target::server || target() == Target::device;
        return {setupDone(), chosen && !setupDone(), false};
    }
    default: return {false, targetDone(), true};
    }
}

std::optional<Server> OnboardingModel::connectedServer() const
{
    for (const Server& server : f.servers)
        if (f.connected.value(server.id, false))
            return server;
    return std::nullopt;
}

QString OnboardingModel::accessibilityTitle() const
{
    return QStringLiteral("开启「XTest 模拟按键」（按 ") + pasteKey() + QStringLiteral(" 把路径打进终端要用）");
}

OnboardingModel::Permission OnboardingModel::permission() const
{
    if (f.settings.pasteMode == PasteMode::zeroPermission)
        return Permission::zeroPermission;
    return f.trusted ? Permission::granted : Permission::request;
}

QString OnboardingModel::permissionText() const
{
    switch (permission()) {
    case Permission::zeroPermission:
        return QStringLiteral("已选零权限模式：按 ") + pasteKey() + QStringLiteral(" 只把路径复制到剪贴板，你再 Ctrl+Shift+V。不要权限。");
    case Permission::granted:
        return QStringLiteral("这台电脑不用授权，按 ") + pasteKey() + QStringLiteral(" 可以直接把路径打进终端了。");
    case Permission::request:
        break;
    }
    // Nothing on Linux grants typing: say why it cannot work here and offer the mode that needs none.
    if (f.wayland)
        return QStringLiteral("Wayland 会话不允许 tarnel 替你\"打字\"（它不读你的键盘）。用零权限模式：按 ") + pasteKey()
            + QStringLiteral(" 只把路径复制到剪贴板，你再 Ctrl+Shift+V。");
    return QStringLiteral("tarnel 要用 X 服务器的 XTest 扩展替你\"打字\"；它不读你的键盘。这个 X 服务器没有 XTest，"
                          "换一个桌面会话，或者用零权限模式。");
}

QList<OnboardingModel::Choice> OnboardingModel::choices()
{
    return {{QStringLiteral("server"), QStringLiteral("一台 Linux 服务器"), QStringLiteral("平时 ssh 上去跑 Claude Code / Codex 的那台")},
            {QStringLiteral("device"), QStringLiteral("我自己的另一台电脑"), QStringLiteral("家里 ↔ 办公室，登同一个账号就能互相连")},
            {QStringLiteral("none"), QStringLiteral("先不连"), QStringLiteral("以后点托盘里的 tarnel 图标随时加")}};
}

QString OnboardingModel::setupTitle() const
{
    switch (target()) {
    case Target::server: return QStringLiteral("连一台服务器");
    case Target::device: return QStringLiteral("连自己的另一台电脑");
    case Target::none: return QStringLiteral("先不连，随时可以加");
    case Target::noChoice: break;
    }
    return QStringLiteral("按你的选择一步步做");
}

QString OnboardingModel::connectedText(const Server& server) const
{
    const QString dir = server.setup.remoteDirAbsolute.value_or(server.remoteDir);
    return QStringLiteral("已连接 ") + server.user.value_or(QString()) + QLatin1Char('@') + server.host
        + QStringLiteral("，服务器端已准备好（目录 ") + dir + QStringLiteral("）");
}

QString OnboardingModel::deviceIntro() const
{
    return QStringLiteral("两台电脑都装 tarnel、登录**同一个账号**，就会在面板的「设备」页里互相看到（现在账号下另有 ")
        + QString::number(f.peerCount) + QStringLiteral(" 台）。");
}

QString OnboardingModel::deviceSteps()
{
    return QStringLiteral("• **被连的那台**（比如家里的）：「设备」页拨开「允许其他设备连接这台电脑」，按两步做：开着 ssh 服务（sshd）、允许对方免密登录（都是点几下 + 粘一条命令）。\n"
                          "• **发起连接的那台**（比如办公室的）：「设备」页点对方的「打通 SSH 连接」，成功后给你一条命令，在任何终端里粘贴就进去了。\n"
                          "• 想把截图传给那台：它的卡片 ⋯ →「开启截图同步（把这台设为接收端）」。");
}

QString OnboardingModel::demoIntro() const
{
    return QStringLiteral("之后用起来是这样：截图 Ctrl+C → 右上角闪一下「截图1 已传 ✅」→ 在 ssh 到那台的终端里、AI 的输入框按 **")
        + pasteKey() + QStringLiteral("**，就会打进去：");
}

QString OnboardingModel::demoLine(const std::optional<Server>& server) const
{
    std::optional<QString> path;
    if (server)
        path = ReceiverClient::remotePath(*server, exampleShot());
    // As the paste hot key would type shot 1: in the user's own token format.
    return PasteController::token(f.settings.tokenFormat, 1, path.value_or(examplePath()));
}

QString OnboardingModel::trayText() const
{
    return QStringLiteral("tarnel 在系统托盘里（取景框 + 链环的小图标），不是任务栏上的普通窗口。");
}

QString OnboardingModel::trayTips() const
{
    return QStringLiteral("• 点图标（或按 ") + panelKey()
        + QStringLiteral("）：「截图」页看今天的图、选「下次粘这张」、复制路径；「服务器」页加 / 关服务器；「设备」页连自己的另一台电脑。\n")
        + QStringLiteral("• 右键图标：暂停上传、清空、打开目录、检查更新、反馈问题、设置、退出。\n")
        + QStringLiteral("• 看不到图标？有的桌面要先开启系统托盘（比如 AppIndicator 扩展）；") + panelKey()
        + QStringLiteral(" 不靠图标也能打开。\n")
        + QStringLiteral("• 想再看这个引导：面板右上角的 ? 或 设置 → 关于。");
}

QString OnboardingModel::footer() const
{
    if (accessibilityDone() && targetDone() && setupDone())
        return QStringLiteral("都好了。点「知道了」开始用，这个窗口不会再出现。");
    return QStringLiteral("每步都能跳过；关掉这个窗口下次打开 tarnel 还会出现，直到你点「知道了」。");
}
