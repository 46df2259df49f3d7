#include "ui/panel/ServerAdvancedSheet.h"

#include "app/AppState.h"
#include "delivery/SSHKey.h"
#include "servers/RulesScript.h"
#include "servers/ServerRegistry.h"
#include "ui/kit/Parts.h"
#include "ui/kit/StatusLabel.h"
#include "ui/panel/PasswordPrompt.h"
#include "ui/panel/ScriptSheet.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {
constexpr int sheetWidth = 560;

QLineEdit* field(const char* objectName, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(objectName));
    return edit;
}

QPushButton* smallButton(const char* objectName, const QString& text, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(objectName));
    button->setAutoDefault(false);
    QFont font = button->font();
    font.setPointSizeF(font.pointSizeF() - 1);
    button->setFont(font);
    return button;
}

} // namespace

ServerAdvancedSheet::ServerAdvancedSheet(AppState& app, const QUuid& serverID, QWidget* parent)
    : QDialog(parent), app(app), serverID(serverID)
{
    setObjectName(QStringLiteral("serverAdvancedSheet"));
    setWindowTitle(QStringLiteral("高级"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(sheetWidth);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(20, 20, 20, 20);
    stack->setSpacing(12);

    heading = Parts::heading(QString(), this);
    heading->setObjectName(QStringLiteral("advancedTitle"));
    heading->setTextFormat(Qt::PlainText);
    stack->addWidget(heading);
    stack->addWidget(buildForm());
    stack->addWidget(Parts::divider(this));
    stack->addWidget(buildRules());
    stack->addWidget(Parts::divider(this));
    stack->addWidget(buildServerButtons());

    noteLine = new StatusLabel(QStringLiteral("orange"), this);
    noteLine->setObjectName(QStringLiteral("advancedNote"));
    noteLine->setSizeStep(-2);
    noteLine->hide();
    stack->addWidget(noteLine);

    auto* row = new QHBoxLayout;
    row->addStretch(1);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    auto* saveButton = new QPushButton(QStringLiteral("保存"), this);
    saveButton->setObjectName(QStringLiteral("saveButton"));
    saveButton->setDefault(true);
    row->addWidget(cancel);
    row->addWidget(saveButton);
    stack->addLayout(row);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(saveButton, &QPushButton::clicked, this, &ServerAdvancedSheet::save);

    connect(&app.registry(), &ServerRegistry::changed, this, &ServerAdvancedSheet::followRegistry);
    followRegistry();
}

ServerAdvancedSheet* ServerAdvancedSheet::openFor(AppState& app, const QUuid& serverID, QWidget* over)
{
    auto* sheet = new ServerAdvancedSheet(app, serverID, over ? over->window() : nullptr);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
    return sheet;
}

QWidget* ServerAdvancedSheet::buildForm()
{
    auto* form = new QWidget(this);
    auto* layout = new QFormLayout(form);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    // The titles are long: each goes above its field, which then takes the sheet's width.
    layout->setRowWrapPolicy(QFormLayout::WrapAllRows);
    layout->setVerticalSpacing(4);
    name = field("nameField", form);
    user = field("userField", form);
    port = field("portField", form);
    port->setFixedWidth(120);
    port->setText(QStringLiteral("22"));
    proxyJump = field("proxyJumpField", form);
    remoteDir = field("remoteDirField", form);
    keywords = field("keywordsField", form);
    smartOnly = new QCheckBox(QStringLiteral("智能模式：本机没连着这台时不传（给只偶尔 ssh 的台用）"), form);
    smartOnly->setObjectName(QStringLiteral("smartOnlySwitch"));

    layout->addRow(QStringLiteral("名字"), name);
    layout->addRow(QStringLiteral("登录名"), user);
    layout->addRow(QStringLiteral("端口"), port);
    layout->addRow(QStringLiteral("跳板（user@host[:port]，没有就空着）"), proxyJump);
    layout->addRow(QStringLiteral("远程目录（~/tarnel）"), remoteDir);
    auto* keywordGroup = new QWidget(form);
    auto* keywordStack = new QVBoxLayout(keywordGroup);
    keywordStack->setContentsMargins(0, 0, 0, 0);
    keywordStack->setSpacing(2);
    keywordStack->addWidget(keywords);
    keywordStack->addWidget(Parts::caption(QStringLiteral("默认有 IP、登录名@、主机名；终端标签标题一般长这样：ubuntu@ip-172-31-26-1…"), keywordGroup));
    layout->addRow(QStringLiteral("匹配串（逗号分隔：窗口标题含其一就粘这台）"), keywordGroup);
    layout->addRow(smartOnly);
    return form;
}

QWidget* ServerAdvancedSheet::buildRules()
{
    auto* section = new QWidget(this);
    auto* stack = new QVBoxLayout(section);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(6);
    stack->addWidget(Parts::caption(QStringLiteral("AI 读图规则块（写进服务器上这些工具的全局规则文件，默认不写；写前备份 .tarnel.bak，可整段卸载）"), section));
    for (const auto& [key, label] : RulesScript::toolNames()) {
        auto* toggle = new QCheckBox(label, section);
        toggle->setObjectName(QStringLiteral("rule_") + key);
        rules.insert(key, toggle);
        stack->addWidget(toggle);
    }
    auto* row = new QHBoxLayout;
    auto* preview = smallButton("previewRulesButton", QStringLiteral("预览要写的内容"), section);
    applyButton = smallButton("applyRulesButton", QStringLiteral("应用规则块"), section);
    row->addWidget(preview);
    row->addWidget(applyButton);
    row->addStretch(1);
    stack->addLayout(row);
    connect(preview, &QPushButton::clicked, this, &ServerAdvancedSheet::showRulePreview);
    connect(applyButton, &QPushButton::clicked, this, [this] { applyRules(std::nullopt); });
    return section;
}

QWidget* ServerAdvancedSheet::buildServerButtons()
{
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto* install = smallButton("installScriptButton", QStringLiteral("查看安装脚本全文"), row);
    revokeKeyButton = smallButton("revokeButton", QStringLiteral("吊销钥匙"), row);
    revokeKeyButton->setToolTip(QStringLiteral("删掉服务器 authorized_keys 里这台电脑的那一行；条目保留，再点「连接」会重新装"));
    layout->addWidget(install);
    layout->addWidget(revokeKeyButton);
    layout->addStretch(1);
    connect(install, &QPushButton::clicked, this, &ServerAdvancedSheet::showInstallScript);
    connect(revokeKeyButton, &QPushButton::clicked, this, [this] { revoke(std::nullopt); });
    return row;
}

void ServerAdvancedSheet::showEvent(QShowEvent* event)
{
    if (!event->spontaneous())
        load();
    QDialog::showEvent(event);
}

void ServerAdvancedSheet::followRegistry()
{
    const auto stored = app.registry().server(serverID);
    heading->setText(ServerAdvancedModel::title(stored));
    const bool onServer = ServerAdvancedModel::canRunOnServer(stored);
    applyButton->setEnabled(onServer);
    revokeKeyButton->setEnabled(onServer);
}

void ServerAdvancedSheet::load()
{
    const auto stored = app.registry().server(serverID);
    if (!stored)
        return;
    const ServerAdvancedModel::Fields f = ServerAdvancedModel::load(*stored);
    name->setText(f.name);
    user->setText(f.user);
    port->setText(f.port);
    proxyJump->setText(f.proxyJump);
    remoteDir->setText(f.remoteDir);
    keywords->setText(f.keywords);
    smartOnly->setChecked(f.smartOnly);
    for (auto it = rules.cbegin(); it != rules.cend(); ++it)
        it.value()->setChecked(stored->setup.ruleBlocks.contains(it.key()));
}

ServerAdvancedModel::Fields ServerAdvancedSheet::fields() const
{
    ServerAdvancedModel::Fields f;
    f.name = name->text();
    f.user = user->text();
    f.port = port->text();
    f.proxyJump = proxyJump->text();
    f.remoteDir = remoteDir->text();
    f.keywords = keywords->text();
    f.smartOnly = smartOnly->isChecked();
    return f;
}

QString ServerAdvancedSheet::note() const { return noteLine->text(); }

void ServerAdvancedSheet::setNote(const QString& text)
{
    noteLine->setText(text);
    noteLine->setVisible(!text.isEmpty());
}

void ServerAdvancedSheet::save()
{
    const auto stored = app.registry().server(serverID);
    if (!stored)
        return;
    const Outcome<Server> next = ServerAdvancedModel::edited(*stored, fields());
    if (!next.ok()) {
        setNote(next.failure());
        return;
    }
    app.registry().update(next.value());
    accept();
}

void ServerAdvancedSheet::applyRules(const std::optional<QString>& password)
{
    setNote(QStringLiteral("正在写规则块…"));
    QStringList wanted;
    for (auto it = rules.cbegin(); it != rules.cend(); ++it)
        if (it.value()->isChecked())
            wanted << it.key();
    wanted.sort();
    QPointer<ServerAdvancedSheet> self(this);
    app.registry().applyRules(serverID, wanted, password, [self](const Outcome<QString>& outcome) {
        if (self)
            self->answered(PasswordAction::rules, outcome);
    });
}

void ServerAdvancedSheet::revoke(const std::optional<QString>& password)
{
    setNote(QStringLiteral("正在吊销…"));
    QPointer<ServerAdvancedSheet> self(this);
    app.registry().revokeKey(serverID, password, [self](const Outcome<QString>& outcome) {
        if (self)
            self->answered(PasswordAction::revoke, outcome);
    });
}

void ServerAdvancedSheet::answered(PasswordAction action, const Outcome<QString>& outcome)
{
    setNote(outcome.ok() ? outcome.value() : outcome.failure());
    if (!outcome.ok() && outcome.needsPassword())
        askPassword(action);
}

void ServerAdvancedSheet::askPassword(PasswordAction action)
{
    if (prompt && passwordFor == action)
        return; // already asking for this one
    if (prompt)
        prompt->deleteLater();
    passwordFor = action;
    prompt = new PasswordPrompt(ServerAdvancedModel::passwordTitle(action), this);
    connect(prompt, &PasswordPrompt::answered, this,
        [this, action](const std::optional<QString>& password) { passwordGiven(action, password); });
    prompt->open();
}

void ServerAdvancedSheet::passwordGiven(PasswordAction action, const std::optional<QString>& password)
{
    if (prompt) {
        prompt->hide();
        prompt->deleteLater();
    }
    prompt = nullptr;
    passwordFor.reset();
    if (!password)
        return; // the failure's message stays
    if (action == PasswordAction::rules)
        applyRules(password);
    else
        revoke(password);
}

void ServerAdvancedSheet::showRulePreview()
{
    showScript(ServerAdvancedModel::rulePreview(app.registry().server(serverID)));
}

void ServerAdvancedSheet::showInstallScript()
{
    const auto stored = app.registry().server(serverID);
    if (!stored)
        return;
    showScript(ServerAdvancedModel::installScript(*stored, SSHKey::publicLine(SSHKey::defaultPath()), SSHKey::machineName()));
}

void ServerAdvancedSheet::showScript(const QString& text)
{
    if (script)
        script->deleteLater();
    script = new ScriptSheet(app, QStringLiteral("脚本全文（随 tarnel 一起签名，改一个字节签名就坏）"),
        [text] { return text; }, 420, ScriptSheet::Buttons::apart, this);
    script->setAttribute(Qt::WA_DeleteOnClose);
    script->open();
}
