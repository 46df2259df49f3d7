#include "ui/devices/ShortCommandSheet.h"

#include "link/LinkManager.h"
#include "ui/devices/DeviceSheetsModel.h"
#include "ui/kit/Parts.h"
#include "ui/kit/StatusLabel.h"

#include <QFileInfo>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

ShortCommandSheet::ShortCommandSheet(LinkManager& link, const DeviceCommands& commands, Clipboard& clipboard,
    QWidget* parent)
    : CommandSheet("shortCommandSheet", QStringLiteral("固定成短命令"), 540, commands, clipboard, parent), link(link)
{
    addTitle(QStringLiteral("让连接命令变短、永远不变"));
    addDoneNote(QStringLiteral("已经固定了：~/.ssh/config 顶部有 tarnel 的 Include 行，在任何终端直接 ssh qx-xxx 就能登进对应的设备；直连 / 中转在背后自动切换。"),
        QStringLiteral("不想要了：打开 ~/.ssh/config，删掉那一行 Include 即可。"));
    addSteps(8, QStringLiteral("ssh 自己支持「别名」：tarnel 已经把每台设备写成 qx-xxx 这样的别名（在 ")
        + QFileInfo(LinkManager::devicesConfigPath()).fileName()
        + QStringLiteral(" 里），只差让你的 ssh 读到它。tarnel 不替你改 ~/.ssh 下的文件，所以要你自己粘一次，三步："));
    addCopyAndTerminalSteps("copyIncludeButton",
        QStringLiteral("（只做一件事：在 ~/.ssh/config 最前面加一行 Include，原有内容一字不动）"),
        QStringLiteral("③ 在终端里 Ctrl+Shift+V 粘贴（xterm 里用 Shift+Insert），回车。看到「好了」后这里会自动变成已固定。"));
    refusal = Parts::text(QStringLiteral("orange"), -2, stepsBox);
    refusal->setObjectName(QStringLiteral("includeRefusal"));
    steps->addWidget(refusal);
    addReveal(QStringLiteral("看看这条命令"), "includeCommandText");
    commandText->setContentsMargins(0, 4, 0, 0);
    addCloser();

    connect(&link, &LinkManager::changed, this, &ShortCommandSheet::refresh);
    refresh();
}

Outcome<QString> ShortCommandSheet::copiedText() const
{
    const Outcome<QString> line = DeviceSheetsModel::includeCommand(LinkManager::devicesConfigPath());
    return line.ok() ? Outcome<QString>::success(line.value() + QLatin1Char('\n')) : line;
}

void ShortCommandSheet::refresh()
{
    const Outcome<QString> line = DeviceSheetsModel::includeCommand(LinkManager::devicesConfigPath());
    showState(link.sshConfigIncluded(), line.ok());
    refusal->setVisible(!line.ok());
    refusal->setText(line.ok() ? QString() : line.failure());
    reveal->setVisible(line.ok());
    commandText->setText(line.ok() ? line.value() : QString());
    fitHeight();
}

void ShortCommandSheet::copyCommand()
{
    const Outcome<QString> text = copiedText();
    if (!text.ok())
        return;
    copyToClipboard(text.value());
    refresh();
}
