#include "ui/devices/RenameDeviceSheet.h"

#include "link/LinkManager.h"
#include "link/LinkSSHConfig.h"
#include "ui/devices/DeviceSheetsModel.h"
#include "ui/kit/Parts.h"
#include "ui/kit/StatusLabel.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

RenameDeviceSheet::RenameDeviceSheet(LinkManager& link, QWidget* parent)
    : Sheet("renameDeviceSheet", QStringLiteral("改名"), 420, parent), link(link)
{
    addTitle(QStringLiteral("这台电脑的名字"));
    name = new QLineEdit(this);
    name->setObjectName(QStringLiteral("nameField"));
    name->setPlaceholderText(QStringLiteral("名字（别的设备上看到的）"));
    column->addWidget(name);
    alias = new QLineEdit(this);
    alias->setObjectName(QStringLiteral("aliasField"));
    alias->setPlaceholderText(QStringLiteral("别名（终端里 ssh 用：qx-xxx）"));
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(font().pointSizeF());
    alias->setFont(mono);
    connect(alias, &QLineEdit::textChanged, this, &RenameDeviceSheet::keepAliasLower);
    column->addWidget(alias);
    column->addWidget(Parts::caption(
        QStringLiteral("别名只能是 qx- 加小写字母、数字、短横，最长 24 个字符。改了别名，别的设备上的连接命令会自动跟着变。"), this));
    errorText = Parts::text(QStringLiteral("red"), -2, this);
    errorText->setObjectName(QStringLiteral("renameError"));
    errorText->hide();
    column->addWidget(errorText);

    QHBoxLayout* buttons = addButtonRow();
    cancel = Parts::button("cancelButton", QStringLiteral("取消"), this);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(cancel);
    save = new QPushButton(QStringLiteral("保存"), this);
    save->setObjectName(QStringLiteral("saveButton"));
    save->setDefault(true);
    connect(save, &QPushButton::clicked, this, &RenameDeviceSheet::submit);
    buttons->addWidget(save);
    prefill();
}

QString RenameDeviceSheet::error() const { return errorText->isHidden() ? QString() : errorText->text(); }

void RenameDeviceSheet::prefill()
{
    const auto& status = link.status();
    name->setText(status ? status->device.name : LinkManager::machineName());
    alias->setText(status ? status->device.alias : LinkSSHConfig::aliasSlug(name->text()));
}

void RenameDeviceSheet::keepAliasLower()
{
    const auto typed = DeviceSheetsModel::lowerAlias(alias->text(), alias->cursorPosition());
    if (typed.text == alias->text())
        return;
    alias->setText(typed.text);
    alias->setCursorPosition(typed.cursor);
}

void RenameDeviceSheet::submit()
{
    if (!save->isEnabled())
        return;
    save->setEnabled(false);
    save->setText(QStringLiteral("保存中…"));
    // Only this sheet hears the answer: once it is closed or gone, a late answer changes nothing.
    QPointer<RenameDeviceSheet> self(this);
    link.rename(name->text(), alias->text()).then(this, [self](const Outcome<>& outcome) {
        if (!self || !self->isVisible())
            return;
        if (outcome.ok()) {
            self->accept();
            return;
        }
        self->errorText->setText(outcome.failure());
        self->errorText->show();
        self->save->setText(QStringLiteral("保存"));
        self->save->setEnabled(true);
    });
}
