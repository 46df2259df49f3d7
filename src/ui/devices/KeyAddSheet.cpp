#include "ui/devices/KeyAddSheet.h"

#include "link/LinkManager.h"
#include "ui/devices/DeviceCommands.h"
#include "ui/devices/DeviceSheetsModel.h"
#include "ui/kit/StatusLabel.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Theme.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
QLabel* bold(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont f = label->font();
    f.setBold(true);
    label->setFont(f);
    return label;
}

StatusLabel* caption(const QString& text, QWidget* parent)
{
    auto* label = new StatusLabel(QStringLiteral("secondary"), parent);
    label->setSizeStep(-2);
    label->setText(text);
    return label;
}
} // namespace

KeyAddSheet::KeyAddSheet(const PeerDevice& peer, LinkManager& link, const DeviceCommands& commands, QWidget* parent)
    : QDialog(parent), who(peer), link(link), commands(commands)
{
    setObjectName(QStringLiteral("keyAddSheet"));
    setWindowModality(Qt::WindowModal);
    setWindowTitle(QStringLiteral("允许免密登录"));
    setFixedWidth(520);
    const QString comment = DeviceSheetsModel::keyComment(peer.sshPubKey);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(18, 18, 18, 18);
    column->setSpacing(12);
    auto* title = new QLabel(QStringLiteral("允许「") + peer.shownName() + QStringLiteral("」免密登录这台电脑"), this);
    title->setObjectName(QStringLiteral("keyAddTitle"));
    title->setTextFormat(Qt::PlainText);
    title->setWordWrap(true);
    QFont headline = title->font();
    headline.setBold(true);
    headline.setPointSizeF(headline.pointSizeF() + 1);
    title->setFont(headline);
    column->addWidget(title);

    doneBox = new QWidget(this);
    auto* doneStack = new QVBoxLayout(doneBox);
    doneStack->setContentsMargins(0, 0, 0, 0);
    doneStack->setSpacing(8);
    auto* doneRow = new QHBoxLayout;
    auto* check = new QLabel(doneBox);
    check->setPixmap(Symbols::tinted(QStringLiteral("checkmark.circle.fill"), 16, Theme::color(QStringLiteral("green"))));
    doneRow->addWidget(check, 0, Qt::AlignTop);
    auto* doneText = new StatusLabel(QStringLiteral("green"), doneBox);
    doneText->setText(QStringLiteral("已经允许了：它的钥匙在这台电脑的 ~/.ssh/authorized_keys 里，它用自己的钥匙就能登进来，不用密码。"));
    doneRow->addWidget(doneText, 1);
    doneStack->addLayout(doneRow);
    doneStack->addWidget(caption(QStringLiteral("不想再允许它：打开 ~/.ssh/authorized_keys，把注释是「") + comment
            + QStringLiteral("」的那一行删掉。"), doneBox));
    column->addWidget(doneBox);

    stepsBox = new QWidget(this);
    auto* steps = new QVBoxLayout(stepsBox);
    steps->setContentsMargins(0, 0, 0, 0);
    steps->setSpacing(10);
    auto* intro = new StatusLabel(QString(), stepsBox);
    intro->setSizeStep(-1);
    intro->setText(QStringLiteral("ssh 要求：别的电脑想免密登录这台，得把它的钥匙（一行文字）放进这台电脑的钥匙清单里。tarnel 不替你改这个文件，所以要你自己做一次，三步："));
    steps->addWidget(intro);
    auto* one = new QHBoxLayout;
    one->setSpacing(8);
    one->addWidget(bold(QStringLiteral("①"), stepsBox));
    copy = new QPushButton(QStringLiteral("复制命令"), stepsBox);
    copy->setObjectName(QStringLiteral("copyKeyCommandButton"));
    copy->setDefault(true);
    connect(copy, &QPushButton::clicked, this, &KeyAddSheet::copyCommand);
    one->addWidget(copy);
    one->addWidget(caption(QStringLiteral("（这条命令只做三件事：建 ~/.ssh、把它的钥匙追加进去、把权限收紧）"), stepsBox), 1);
    steps->addLayout(one);
    auto* two = new QHBoxLayout;
    two->setSpacing(8);
    two->addWidget(bold(QStringLiteral("②"), stepsBox));
    terminal = new QPushButton(QStringLiteral("打开终端"), stepsBox);
    terminal->setObjectName(QStringLiteral("openTerminalButton"));
    terminal->setAutoDefault(false);
    connect(terminal, &QPushButton::clicked, this, [this] {
        if (this->commands.openTerminalApp)
            this->commands.openTerminalApp();
    });
    two->addWidget(terminal);
    two->addWidget(caption(QStringLiteral("③ 在终端里 Ctrl+Shift+V 粘贴，回车。看到「已允许 …」就好了，这个窗口会自动打勾。"), stepsBox), 1);
    steps->addLayout(two);
    reveal = new QToolButton(stepsBox);
    reveal->setObjectName(QStringLiteral("revealCommand"));
    reveal->setText(QStringLiteral("看看这条命令 / 这把钥匙"));
    reveal->setCheckable(true);
    reveal->setAutoRaise(true);
    reveal->setArrowType(Qt::RightArrow);
    reveal->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    steps->addWidget(reveal);
    commandText = new StatusLabel(QString(), stepsBox);
    commandText->setObjectName(QStringLiteral("keyCommandText"));
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(std::max(7.0, font().pointSizeF() - 1.5));
    commandText->setFont(mono);
    commandText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    commandText->setWordWrap(true);
    commandText->hide();
    steps->addWidget(commandText);
    commentText = caption(QStringLiteral("钥匙注释：") + comment, stepsBox);
    commentText->hide();
    steps->addWidget(commentText);
    connect(reveal, &QToolButton::toggled, this, [this](bool on) {
        reveal->setArrowType(on ? Qt::DownArrow : Qt::RightArrow);
        commandText->setVisible(on);
        commentText->setVisible(on);
        adjustSize();
    });
    column->addWidget(stepsBox);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    closer = new QPushButton(this);
    closer->setObjectName(QStringLiteral("closeButton"));
    closer->setAutoDefault(false);
    connect(closer, &QPushButton::clicked, this, &QDialog::reject);
    bottom->addWidget(closer);
    column->addLayout(bottom);

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
    const bool allowed = done();
    doneBox->setVisible(allowed);
    stepsBox->setVisible(!allowed);
    copy->setText(copied ? QStringLiteral("已复制 ✓") : QStringLiteral("复制命令"));
    copy->setDefault(!allowed);
    commandText->setText(commands.keyAddCommand ? commands.keyAddCommand(who) : QString());
    closer->setText(allowed ? QStringLiteral("好") : QStringLiteral("关闭"));
    adjustSize();
}

void KeyAddSheet::copyCommand()
{
    QClipboard* board = QApplication::clipboard();
    board->clear();
    board->setText(copiedText());
    copied = true;
    refresh();
}
