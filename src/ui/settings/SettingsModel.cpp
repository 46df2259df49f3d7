#include "ui/settings/SettingsModel.h"

#include "delivery/HotkeySpec.h"
#include "servers/RemoteDir.h"
#include "state/Text.h"

#include <QRegularExpression>

namespace SettingsModel {

namespace {
qint64 step(Stepper stepper, qint64 value)
{
    switch (stepper) {
    case Stepper::shotBytes: return 1'000'000;
    case Stepper::dailyLimit: return 50;
    case Stepper::keepHours: return value >= 24 ? 24 : 1;
    case Stepper::dirBytes: return 50'000'000;
    }
    return 1;
}
} // namespace

StepperRange range(Stepper stepper)
{
    switch (stepper) {
    case Stepper::shotBytes: return {1'000'000, 8'000'000};
    case Stepper::dailyLimit: return {50, 2000};
    case Stepper::keepHours: return {1, 720};
    case Stepper::dirBytes: return {50'000'000, 2'000'000'000};
    }
    return {};
}

qint64 value(Stepper stepper, const Settings& s)
{
    switch (stepper) {
    case Stepper::shotBytes: return s.maxShotBytes;
    case Stepper::dailyLimit: return s.dailyLimit;
    case Stepper::keepHours: return s.keepHours;
    case Stepper::dirBytes: return s.maxDirBytes;
    }
    return 0;
}

QString label(Stepper stepper, const Settings& s)
{
    const qint64 v = value(stepper, s);
    switch (stepper) {
    case Stepper::shotBytes: return QStringLiteral("单张上限：%1 MB").arg(v / 1'000'000);
    case Stepper::dailyLimit: return QStringLiteral("每天最多：%1 张").arg(v);
    case Stepper::keepHours: return QStringLiteral("保留：%1 小时").arg(v);
    case Stepper::dirBytes: return QStringLiteral("本地/服务器各最多：%1 MB").arg(v / 1'000'000);
    }
    return {};
}

Settings stepped(Stepper stepper, const Settings& settings, int direction)
{
    const StepperRange r = range(stepper);
    const qint64 v = value(stepper, settings);
    const qint64 next = std::clamp(v + (direction > 0 ? 1 : -1) * step(stepper, v), r.min, r.max);
    Settings s = settings;
    switch (stepper) {
    case Stepper::shotBytes: s.maxShotBytes = next; break;
    case Stepper::dailyLimit: s.dailyLimit = int(next); break;
    case Stepper::keepHours: s.keepHours = int(next); break;
    case Stepper::dirBytes: s.maxDirBytes = next; break;
    }
    return s;
}

bool canStep(Stepper stepper, const Settings& settings, int direction)
{
    const StepperRange r = range(stepper);
    const qint64 v = value(stepper, settings);
    return direction > 0 ? v < r.max : v > r.min;
}

QList<Choice> longSideChoices()
{
    return {{QStringLiteral("不压缩"), 0},
            {QStringLiteral("1600 px"), 1600},
            {QStringLiteral("2560 px（推荐）"), 2560},
            {QStringLiteral("3200 px"), 3200}};
}

QList<std::pair<QString, PasteMode>> pasteModeChoices()
{
    return {{QStringLiteral("模拟打字（需 XTest，剪贴板不动）"), PasteMode::type},
            {QStringLiteral("剪贴板 + Ctrl+Shift+V（xterm 用 Shift+Insert；需 XTest；个别终端打字丢字时用）"), PasteMode::clipboard},
            {QStringLiteral("零权限：只复制路径，自己 Ctrl+Shift+V（xterm 用 Shift+Insert）"), PasteMode::zeroPermission}};
}

QStringList lines(const QString& text)
{
    static const QRegularExpression breaks(QStringLiteral("\\r\\n|[\\n\\v\\f\\r\\x{0085}\\x{2028}\\x{2029}]"));
    QStringList kept;
    for (const QString& piece : text.split(breaks, Qt::SkipEmptyParts))
        if (const QString trimmed = trimBlanks(piece); !trimmed.isEmpty())
            kept << trimmed;
    return kept;
}

std::optional<Settings> committedToken(const Settings& settings, const QString& typed)
{
    if (!typed.contains(QLatin1String("%d")) || !typed.contains(QLatin1String("%s")))
        return std::nullopt;
    Settings s = settings;
    s.tokenFormat = typed;
    return s;
}

std::optional<Settings> committedRemoteDir(const Settings& settings, const QString& typed)
{
    const QString dir = trimBlanks(typed);
    if (!RemoteDir::isValid(dir))
        return std::nullopt;
    Settings s = settings;
    s.defaultRemoteDir = dir;
    return s;
}

QString pasteKeyText(const Settings& settings)
{
    return HotkeySpec::parseOr(settings.hotkeyPaste, QStringLiteral("⌥⌘3")).desktopText();
}

QString panelKeyText(const Settings& settings)
{
    return HotkeySpec::parseOr(settings.hotkeyPanel, QStringLiteral("⌥⌘4")).desktopText();
}

QString terminalCaption(const Settings& settings)
{
    return QStringLiteral("终端白名单（窗口类名，一行一个；只在这些程序前台时 ") + pasteKeyText(settings)
        + QStringLiteral(" 才生效）");
}

QString accountLine(const std::optional<AccountRecord>& record, Account::Status status)
{
    if (!record)
        return QStringLiteral("还没登录");
    if (status == Account::Status::disabled)
        return QStringLiteral("账号 ") + record->username + QStringLiteral("（已停用）");
    return QStringLiteral("账号 ") + record->username + QStringLiteral("（") + record->displayName + QStringLiteral("）");
}

QStringList safetyPromises()
{
    return {
        QStringLiteral("只在你刚复制了一张图片时，才把那张图传到你添加的服务器和你允许的自己的设备；每次都在右上角闪一下，没有静默上传。"),
        QStringLiteral("不看剪贴板文字、不记录键盘、不截屏、不读你的文件；除了你添加的服务器和你自己账号下的设备，只连 tarnel 官网（登录、每 6 小时报到 + 检查更新、你主动发的反馈），报到只带版本和机型。"),
        QStringLiteral("服务器上只有一把「只能放图」的钥匙（authorized_keys 里一行 restrict,command=…）：开不了 shell、改不了配置；想收回，删那一行就行，或在 tarnel 里点「移除并清掉服务器上的 tarnel」。"),
        QStringLiteral("安装到服务器上的每一行命令都先给你看（高级 → 查看安装脚本全文），可以复制了自己跑。"),
        QStringLiteral("图片两边各只留 24 小时 / 200 MB，单张不超过 5 MB，自动清理。"),
        QStringLiteral("代码开源，主程序只用 Qt、OpenSSL 和系统自带的 ssh（设备互联的小程序 tarnel-net 也一样）；自动更新的包要过 SHA-256 / 版本号 / 签名三道校验。"),
        QStringLiteral("设备互联只在你自己账号下的设备之间：每台默认「不允许被连接」，要你自己拨开开关、在这台电脑上开着 ssh 服务（sshd）、自己把对方的钥匙行粘进 authorized_keys（tarnel 不改系统设置、不碰 ~/.ssh）；两台之间端到端加密直连，打不通才经我们的中转机转发密文；任何一台都能把别的设备踢出。"),
    };
}

QString uninstallText(const QString& dataDirectory)
{
    return QStringLiteral("这台电脑：退出 tarnel，删掉它的程序目录和 ") + dataDirectory
        + QStringLiteral("（开机自启的项在 ~/.config/autostart/tarnel.desktop）；服务器：在卡片里点「移除并清掉服务器上的 tarnel」，或自己删 authorized_keys 里带 tarnel@ 的那一行 + rm -rf ~/tarnel。");
}

std::optional<QString> loginItemUnavailable(bool runsAsBundle, bool dataOverride)
{
    if (!runsAsBundle)
        return QStringLiteral("从构建目录运行的 tarnel 不设登录项：只有安装版（tarnel.app）才会开机自动打开。");
    if (dataOverride)
        return QStringLiteral("用 TARNEL_DATA 换了数据目录时不设登录项。");
    return std::nullopt;
}

std::optional<QString> keepAliveUnavailable(bool runsAsBundle, bool dataOverride)
{
    if (!runsAsBundle)
        return QStringLiteral("从构建目录运行的 tarnel 不装 systemd 用户服务：只有安装版（tarnel.app）才会崩溃后自动重启。");
    if (dataOverride)
        return QStringLiteral("用 TARNEL_DATA 换了数据目录时不装 systemd 用户服务。");
    return std::nullopt;
}

} // namespace SettingsModel
