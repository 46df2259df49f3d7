#include "ui/settings/HotkeySettings.h"

#include "ui/kit/StatusLabel.h"
#include "ui/settings/HotkeyRecorderRow.h"

#include <QGroupBox>
#include <QVBoxLayout>

HotkeySettings::HotkeySettings(AppState& app, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("hotkeySettings"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(8, 8, 8, 8);
    auto* group = new QGroupBox(this);
    auto* column = new QVBoxLayout(group);
    column->setSpacing(12);
    paste = new HotkeyRecorderRow(app, HotkeyCenter::Key::paste, QStringLiteral("粘贴截图路径"), group);
    panel = new HotkeyRecorderRow(app, HotkeyCenter::Key::panel, QStringLiteral("打开 / 关闭面板"), group);
    column->addWidget(paste);
    column->addWidget(panel);
    auto* note = new StatusLabel(QStringLiteral("secondary"), group);
    note->setSizeStep(-2);
    note->setText(QStringLiteral("只认 Ctrl / Alt / Shift / Super 加 数字 / 字母 / F1～F12，至少带一个 Super、Ctrl 或 Alt。"
                                 "别的程序已经占用的组合键注册不上，会在上面提示。"));
    column->addWidget(note);
    outer->addWidget(group);
    outer->addStretch(1);
    connect(paste, &HotkeyRecorderRow::started, panel, &HotkeyRecorderRow::stop);
    connect(panel, &HotkeyRecorderRow::started, paste, &HotkeyRecorderRow::stop);
}
