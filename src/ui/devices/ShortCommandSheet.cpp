#include "ui/devices/ShortCommandSheet.h"

#include "link/LinkManager.h"
#include "ui/devices/DeviceCommands.h"
#include "ui/devices/DeviceSheetsModel.h"
#include "ui/kit/StatusLabel.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Theme.h"

#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
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

StatusLabel* caption(const QString& text, QWidget* parent, const QString& role = QStringLiteral("secondary"))
{
    auto* label = new StatusLabel(role, parent);
    label->setSizeStep(-2);
    label->setText(text);
    return label;
}
} // namespace

ShortCommandSheet::ShortCommandSheet(LinkManager& link, const DeviceCommands& commands, QWidget* parent)
    : QDialog(parent), link(link), commands(commands)
{
    setObjectName(QStringLiteral("shortCommandSheet"));
    setWindowModality(Qt::WindowModal);
    setWindowTitle(QStringLiteral("固定成短命令"));
    setFixedWidth(540);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(18, 18, 18, 18);
    column->setSpacing(12);
    auto* title = new QLabel(QStringLiteral("让连接命令变短、永远不变"), this);
    QFont headline = title->font();
    headline.setBold(true);
    headline.setPointSizeF(headline.pointSizeF() + 1);
    title->setFont(headline);
    column->addWidget(title);

    fixedBox = new QWidget(this);
    auto* fixed = new QVBoxLayout(fixedBox);
    fixed->setContentsMargins(0, 0, 0, 0);
    fixed->setSpacing(8);
    auto* fixedRow = new QHBoxLayout;
    auto* check = new QLabel(fixedBox);
    check->setPixmap(Symbols::tinted(QStringLiteral("checkmark.circle.fill"), 16, Theme::color(QStringLiteral("green"))));
    fixedRow->addWidget(check, 0, Qt::AlignTop);
    auto* fixedText = new StatusLabel(QStringLiteral("green"), fixedBox);
    fixedText->setText(QStringLiteral("已经固定了：~/.ssh/config 顶部有 tarnel 的 Include 行，在任何终端直接 ssh qx-xxx 就能登进对应的设备；直连 / 中转在背后自动切换。"));
    fixedRow->addWidget(fixedText, 1);
    fixed->addLayout(fixedRow);
    fixed->addWidget(caption(QStringLiteral("不想要了：打开 ~/.ssh/config，删掉那一行 Include 即可。"), fixedBox));
    column->addWidget(fixedBox);

    stepsBox = new QWidget(this);
    auto* steps = new QVBoxLayout(stepsBox);
    steps->setContentsMargins(0, 0, 0, 0);
    steps->setSpacing(8);
    auto* intro = new StatusLabel(QString(), stepsBox);
    intro->setSizeStep(-1);
    intro->setText(QStringLiteral("ssh 自己支持「别名」：tarnel 已经把每台设备写成 qx-xxx 这样的别名（在 ")
        + QFileInfo(LinkManager::devicesConfigPath()).fileName()
        + QStringLiteral(" 里），只差让你的 ssh 读到它。tarnel 不替你改 ~/.ssh 下的文件，所以要你自己粘一次，三步："));
    steps->addWidget(intro);
    auto* one = new QHBoxLayout;
    one->setSpacing(8);
    one->addWidget(bold(QStringLiteral("①"), stepsBox));
    copy = new QPushButton(QStringLiteral("复制命令"), stepsBox);
    copy->setObjectName(QStringLiteral("copyIncludeButton"));
    copy->setDefault(true);
    connect(copy, &QPushButton::clicked, this, &ShortCommandSheet::copyCommand);
    one->addWidget(copy);
    one->addWidget(caption(QStringLiteral("（只做一件事：在 ~/.ssh/config 最前面加一行 Include，原有内容一字不动）"), stepsBox), 1);
    steps->addLayout(one);
    auto* two = new QHBoxLayout;
    two->setSpacing(8);
    two->addWidget(bold(QStringLiteral("②"), stepsBox));
    auto* terminal = new QPushButton(QStringLiteral("打开终端"), stepsBox);
    terminal->setObjectName(QStringLiteral("openTerminalButton"));
    terminal->setAutoDefault(false);
    connect(terminal, &QPushButton::clicked, this, [this] {
        if (this->commands.openTerminalApp)
            this->commands.openTerminalApp();
    });
    two->addWidget(terminal);
    two->addWidget(caption(QStringLiteral("③ 在终端里 Ctrl+Shift+V 粘贴，回车。看到「好了」后这里会自动变成已固定。"), stepsBox), 1);
    steps->addLayout(two);
    refusal = caption(QString(), stepsBox, QStringLiteral("orange"));
    refusal->setObjectName(QStringLiteral("includeRefusal"));
    steps->addWidget(refusal);
    reveal = new QToolButton(stepsBox);
    reveal->setObjectName(QStringLiteral("revealCommand"));
    reveal->setText(QStringLiteral("看看这条命令"));
    reveal->setCheckable(true);
    reveal->setAutoRaise(true);
    reveal->setArrowType(Qt::RightArrow);
    reveal->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    steps->addWidget(reveal);
    commandText = new StatusLabel(QString(), stepsBox);
    commandText->setObjectName(QStringLiteral("includeCommandText"));
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(std::max(7.0, font().pointSizeF() - 1.5));
    commandText->setFont(mono);
    commandText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    commandText->setContentsMargins(0, 4, 0, 0);
    commandText->hide();
    steps->addWidget(commandText);
    connect(reveal, &QToolButton::toggled, this, [this](bool on) {
        reveal->setArrowType(on ? Qt::DownArrow : Qt::RightArrow);
        commandText->setVisible(on);
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
    const bool included = link.sshConfigIncluded();
    fixedBox->setVisible(included);
    stepsBox->setVisible(!included);
    const Outcome<QString> line = DeviceSheetsModel::includeCommand(LinkManager::devicesConfigPath());
    copy->setEnabled(line.ok());
    copy->setText(copied ? QStringLiteral("已复制 ✓") : QStringLiteral("复制命令"));
    copy->setDefault(!included && line.ok());
    refusal->setVisible(!line.ok());
    refusal->setText(line.ok() ? QString() : line.failure());
    reveal->setVisible(line.ok());
    commandText->setText(line.ok() ? line.value() : QString());
    closer->setText(included ? QStringLiteral("好") : QStringLiteral("关闭"));
    adjustSize();
}

void ShortCommandSheet::copyCommand()
{
    const Outcome<QString> text = copiedText();
    if (!text.ok())
        return;
    QClipboard* board = QApplication::clipboard();
    board->clear();
    board->setText(text.value());
    copied = true;
    refresh();
}
