#include "ui/devices/KeyAddSheet.h"

#include "link/LinkManager.h"
#include "ui/devices/DeviceCommands.h"
#include "ui/devices/DeviceSheetsModel.h"
#include "ui/kit/Parts.h"
#include "ui/kit/StatusLabel.h"

#include <QLabel>

KeyAddSheet::KeyAddSheet(const PeerDevice& peer, LinkManager& link, const DeviceCommands& commands,
    Clipboard& clipboard, QWidget* parent)
    : CommandSheet("keyAddSheet", QStringLiteral("允许免密登录"), 520, commands, clipboard, parent), who(peer),
      link(link)
{
    const QString comment = DeviceSheetsModel::keyComment(peer.sshPubKey);
    QLabel* title = addTitle(QStringLiteral("允许「") + peer.shownName() + QStringLiteral("」免密登录这台电脑"));
    title->setObjectName(QStringLiteral("keyAddTitle"));
    title->setTextFormat(Qt::PlainText);
    title->setWordWrap(true);

    addDoneNote(QStringLiteral("已经允许了：它的钥匙在这台电脑的 ~/.ssh/authorized_keys 里，它用自己的钥匙就能登进来，不用密码。"),
        QStringLiteral("不想再允许它：打开 ~/.ssh/authorized_keys，把注释是「") + comment + QStringLiteral("」的那一行删掉。"));
    addSteps(10, QStringLiteral("ssh 要求：别的电脑想免密登录这台，得把它的钥匙（一行文字）放进这台电脑的钥匙清单里。tarnel 不替你改这个文件，所以要你自己做一次，三步："));
    addCopyAndTerminalSteps("copyKeyCommandButton",
        QStringLiteral("（这条命令只做三件事：建 ~/.ssh、把它的钥匙追加进去、把权限收紧）"),
        QStringLiteral("③ 在终端里 Ctrl+Shift+V 粘贴（xterm 里用 Shift+Insert），回车。看到「已允许 …」就好了，这个窗口会自动打勾。"));
    addReveal(QStringLiteral("看看这条命令 / 这把钥匙"), "keyCommandText",
        { Parts::caption(QStringLiteral("钥匙注释：") + comment, stepsBox) });
    commandText->setWordWrap(true);
    addCloser();

    connect(&link, &LinkManager::changed, this, &KeyAddSheet::refresh);
    refresh();
}

bool KeyAddSheet::done() const { return link.authorizedKeyIDs().contains(who.id); }

QString KeyAddSheet::copiedText() const
{
    return (commands.keyAddCommand ? commands.keyAddCommand(who) : QString()) + QLatin1Char('\n');
}

void KeyAddSheet::refresh()
{
    showState(done(), true);
    commandText->setText(commands.keyAddCommand ? commands.keyAddCommand(who) : QString());
    fitHeight();
}

void KeyAddSheet::copyCommand()
{
    copyToClipboard(copiedText());
    refresh();
}
