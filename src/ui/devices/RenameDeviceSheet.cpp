#include "ui/devices/RenameDeviceSheet.h"

#include "link/LinkManager.h"
#include "link/LinkSSHConfig.h"
#include "ui/devices/DeviceSheetsModel.h"
#include "ui/kit/StatusLabel.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

RenameDeviceSheet::RenameDeviceSheet(LinkManager& link, QWidget* parent) : QDialog(parent), link(link)
{
    setObjectName(QStringLiteral("renameDeviceSheet"));
    setWindowModality(Qt::WindowModal);
    setWindowTitle(QStringLiteral("改名"));
    setFixedWidth(420);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(18, 18, 18, 18);
    column->setSpacing(12);
    auto* title = new QLabel(QStringLiteral("这台电脑的名字"), this);
    QFont headline = title->font();
    headline.setBold(true);
    headline.setPointSizeF(headline.pointSizeF() + 1);
    title->setFont(headline);
    column->addWidget(title);
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
    auto* rule = new StatusLabel(QStringLiteral("secondary"), this);
    rule->setSizeStep(-2);
    rule->setText(QStringLiteral("别名只能是 qx- 加小写字母、数字、短横，最长 24 个字符。改了别名，别的设备上的连接命令会自动跟着变。"));
    column->addWidget(rule);
    errorText = new StatusLabel(QStringLiteral("red"), this);
    errorText->setObjectName(QStringLiteral("renameError"));
    errorText->setSizeStep(-2);
    errorText->hide();
    column->addWidget(errorText);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(cancel);
    save = new QPushButton(QStringLiteral("保存"), this);
    save->setObjectName(QStringLiteral("saveButton"));
    save->setDefault(true);
    connect(save, &QPushButton::clicked, this, &RenameDeviceSheet::submit);
    buttons->addWidget(save);
    column->addLayout(buttons);
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
