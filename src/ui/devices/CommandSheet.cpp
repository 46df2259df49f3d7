#include "ui/devices/CommandSheet.h"

#include "platform/Clipboard.h"
#include "ui/devices/DeviceCommands.h"
#include "ui/kit/Parts.h"
#include "ui/kit/StatusLabel.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Theme.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

CommandSheet::CommandSheet(const char* name, const QString& windowTitle, int width, const DeviceCommands& commands,
    Clipboard& clipboard, QWidget* parent)
    : Sheet(name, windowTitle, width, parent), commands(commands), clipboard(clipboard)
{
}

void CommandSheet::addDoneNote(const QString& text, const QString& undo)
{
    doneBox = new QWidget(this);
    auto* stack = new QVBoxLayout(doneBox);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(8);
    auto* row = new QHBoxLayout;
    auto* check = new QLabel(doneBox);
    check->setPixmap(Symbols::tinted(QStringLiteral("checkmark.circle.fill"), 16, Theme::color(QStringLiteral("green"))));
    row->addWidget(check, 0, Qt::AlignTop);
    row->addWidget(Parts::text(QStringLiteral("green"), 0, doneBox, text), 1);
    stack->addLayout(row);
    stack->addWidget(Parts::caption(undo, doneBox));
    column->addWidget(doneBox);
}

void CommandSheet::addSteps(int spacing, const QString& intro)
{
    stepsBox = new QWidget(this);
    steps = new QVBoxLayout(stepsBox);
    steps->setContentsMargins(0, 0, 0, 0);
    steps->setSpacing(spacing);
    steps->addWidget(Parts::text(QString(), -1, stepsBox, intro));
    column->addWidget(stepsBox);
}

void CommandSheet::addCopyAndTerminalSteps(const char* copyName, const QString& copyNote, const QString& pasteNote)
{
    auto* one = new QHBoxLayout;
    one->setSpacing(8);
    one->addWidget(Parts::heading(QStringLiteral("①"), stepsBox));
    copy = new QPushButton(QStringLiteral("复制命令"), stepsBox);
    copy->setObjectName(QString::fromLatin1(copyName));
    copy->setDefault(true);
    connect(copy, &QPushButton::clicked, this, &CommandSheet::copyCommand);
    one->addWidget(copy);
    one->addWidget(Parts::caption(copyNote, stepsBox), 1);
    steps->addLayout(one);
    auto* two = new QHBoxLayout;
    two->setSpacing(8);
    two->addWidget(Parts::heading(QStringLiteral("②"), stepsBox));
    QPushButton* terminal = Parts::button("openTerminalButton", QStringLiteral("打开终端"), stepsBox);
    connect(terminal, &QPushButton::clicked, this, [this] {
        if (this->commands.openTerminalApp)
            this->commands.openTerminalApp();
    });
    two->addWidget(terminal);
    two->addWidget(Parts::caption(pasteNote, stepsBox), 1);
    steps->addLayout(two);
}

void CommandSheet::addReveal(const QString& label, const char* textName, std::vector<QWidget*> extras)
{
    reveal = new QToolButton(stepsBox);
    reveal->setObjectName(QStringLiteral("revealCommand"));
    reveal->setText(label);
    reveal->setCheckable(true);
    reveal->setAutoRaise(true);
    reveal->setArrowType(Qt::RightArrow);
    reveal->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    steps->addWidget(reveal);
    commandText = new StatusLabel(QString(), stepsBox);
    commandText->setObjectName(QString::fromLatin1(textName));
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(std::max(7.0, font().pointSizeF() - 1.5));
    commandText->setFont(mono);
    commandText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    commandText->hide();
    steps->addWidget(commandText);
    for (QWidget* extra : extras) {
        extra->hide();
        steps->addWidget(extra);
    }
    connect(reveal, &QToolButton::toggled, this, [this, extras](bool on) {
        reveal->setArrowType(on ? Qt::DownArrow : Qt::RightArrow);
        commandText->setVisible(on);
        for (QWidget* extra : extras)
            extra->setVisible(on);
        fitHeight();
    });
}

void CommandSheet::addCloser()
{
    closer = Parts::button("closeButton", QString(), this);
    connect(closer, &QPushButton::clicked, this, &QDialog::reject);
    addButtonRow()->addWidget(closer);
}

void CommandSheet::showState(bool done, bool canCopy)
{
    doneBox->setVisible(done);
    stepsBox->setVisible(!done);
    copy->setEnabled(canCopy);
    copy->setText(copied ? QStringLiteral("已复制 ✓") : QStringLiteral("复制命令"));
    copy->setDefault(!done && canCopy);
    closer->setText(done ? QStringLiteral("好") : QStringLiteral("关闭"));
}

void CommandSheet::copyToClipboard(const QString& text)
{
    clipboard.writeText(text);
    copied = true;
}
