#include "ui/settings/BehaviorSettings.h"

#include "app/AppState.h"
#include "servers/ServerRegistry.h"
#include "state/AppInfo.h"
#include "state/Paths.h"
#include "ui/kit/CoalescedRefresh.h"
#include "ui/kit/FocusedWheel.h"
#include "ui/kit/Parts.h"
#include "ui/kit/StatusLabel.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

using SettingsModel::Stepper;

namespace {
QGroupBox* section(const QString& title, QWidget* parent)
{
    auto* box = new QGroupBox(title, parent);
    auto* column = new QVBoxLayout(box);
    column->setSpacing(8);
    return box;
}

QString joined(const QStringList& list) { return list.join(QLatin1Char('\n')); }
} // namespace

BehaviorSettings::BehaviorSettings(AppState& app, QWidget* parent)
    : QWidget(parent), app(app), refresher(new CoalescedRefresh([this] { refresh(); }, this))
{
    setObjectName(QStringLiteral("behaviorSettings"));
    QVBoxLayout* column = Parts::scrollingColumn(*this, 8, 12);
    column->addWidget(buildShots());
    column->addWidget(buildPaste());
    column->addWidget(buildResident());
    column->addWidget(buildAdvanced());
    column->addStretch(1);

    refresher->follow(&app, &AppState::changed);
    loadLocalCopies();
    refresh();
}

QWidget* BehaviorSettings::buildShots()
{
    QGroupBox* box = section(QStringLiteral("截图"), this);
    auto* column = static_cast<QVBoxLayout*>(box->layout());

    auto* longSideRow = new QHBoxLayout;
    longSideRow->addWidget(new QLabel(QStringLiteral("压缩长边"), box));
    longSide = new QComboBox(box);
    longSide->setObjectName(QStringLiteral("longSideBox"));
    FocusedWheel::apply(longSide);
    for (const auto& choice : SettingsModel::longSideChoices())
        longSide->addItem(choice.text, choice.value);
    connect(longSide, &QComboBox::activated, this, [this](int index) {
        Settings s = this->app.settings();
        s.maxLongSide = longSide->itemData(index).toInt();
        write(s);
    });
    longSideRow->addWidget(longSide);
    longSideRow->addStretch(1);
    column->addLayout(longSideRow);

    static const std::pair<Stepper, const char*> kinds[] = {{Stepper::shotBytes, "shotBytes"},
                                                           {Stepper::dailyLimit, "dailyLimit"},
                                                           {Stepper::keepHours, "keepHours"},
                                                           {Stepper::dirBytes, "dirBytes"}};
    for (const auto& [kind, name] : kinds) {
        auto* row = new QHBoxLayout;
        StepperRow stepper{kind, new QLabel(box), new QToolButton(box), new QToolButton(box)};
        stepper.text->setObjectName(QStringLiteral("%1Label").arg(QLatin1String(name)));
        stepper.down->setObjectName(QStringLiteral("%1Down").arg(QLatin1String(name)));
        stepper.up->setObjectName(QStringLiteral("%1Up").arg(QLatin1String(name)));
        stepper.down->setText(QStringLiteral("−"));
        stepper.up->setText(QStringLiteral("+"));
        for (auto [button, direction] : {std::pair{stepper.down, -1}, std::pair{stepper.up, 1}}) {
            button->setAutoRaise(false);
            button->setFixedWidth(28);
            connect(button, &QToolButton::clicked, this, [this, kind = kind, direction = direction] {
                write(SettingsModel::stepped(kind, this->app.settings(), direction));
            });
        }
        row->addWidget(stepper.text);
        row->addStretch(1);
        row->addWidget(stepper.down);
        row->addWidget(stepper.up);
        column->addLayout(row);
        steppers << stepper;
    }

    saveWhenNoServer = new QCheckBox(QStringLiteral("没有开着的服务器时也保存截图（本机 Claude 也能用）"), box);
    saveWhenNoServer->setObjectName(QStringLiteral("saveWhenNoServerToggle"));
    connect(saveWhenNoServer, &QCheckBox::clicked, this, [this](bool on) {
        Settings s = this->app.settings();
        s.saveWhenNoServer = on;
        write(s);
    });
    column->addWidget(saveWhenNoServer);
    return box;
}

QWidget* BehaviorSettings::buildPaste()
{
    QGroupBox* box = section(QStringLiteral("粘贴"), this);
    auto* column = static_cast<QVBoxLayout*>(box->layout());

    column->addWidget(new QLabel(QStringLiteral("粘贴方式"), box));
    pasteModes = new QButtonGroup(box);
    for (const auto& [text, mode] : SettingsModel::pasteModeChoices()) {
        auto* radio = new QRadioButton(text, box);
        radio->setObjectName(QStringLiteral("pasteMode_") + pasteModeName(mode));
        pasteModes->addButton(radio, int(mode));
        column->addWidget(radio);
    }
    connect(pasteModes, &QButtonGroup::idClicked, this, [this](int id) {
        Settings s = app.settings();
        s.pasteMode = PasteMode(id);
        write(s);
    });

    auto* tokenRow = new QHBoxLayout;
    tokenRow->addWidget(new QLabel(QStringLiteral("标记格式"), box));
    token = new QLineEdit(box);
    token->setObjectName(QStringLiteral("tokenField"));
    connect(token, &QLineEdit::returnPressed, this, &BehaviorSettings::commitToken);
    tokenRow->addWidget(token, 1);
    tokenRow->addWidget(Parts::caption(QStringLiteral("%d=编号 %s=路径"), box));
    column->addLayout(tokenRow);

    auto* serverRow = new QHBoxLayout;
    serverRow->addWidget(new QLabel(QStringLiteral("多台都开着时默认粘哪台"), box));
    defaultServer = new QComboBox(box);
    defaultServer->setObjectName(QStringLiteral("defaultServerBox"));
    FocusedWheel::apply(defaultServer);
    connect(defaultServer, &QComboBox::activated, this, [this](int index) {
        Settings s = app.settings();
        const QUuid id = defaultServer->itemData(index).toUuid();
        s.defaultServerID = id.isNull() ? std::nullopt : std::optional<QUuid>(id);
        write(s);
    });
    serverRow->addWidget(defaultServer, 1);
    column->addLayout(serverRow);

    terminalCaption = new QLabel(box);
    terminalCaption->setWordWrap(true);
    column->addWidget(terminalCaption);
    terminals = listEditor("terminalsEditor", box);
    connect(terminals, &QPlainTextEdit::textChanged, this, [this] {
        Settings s = app.settings();
        s.terminalBundleIDs = SettingsModel::lines(terminals->toPlainText());
        write(s);
    });
    column->addWidget(terminals);

    auto* patternsCaption = new QLabel(QStringLiteral("本地标题模式（正则，一行一个；窗口标题命中 → 粘本地路径）"), box);
    patternsCaption->setWordWrap(true);
    column->addWidget(patternsCaption);
    patterns = listEditor("patternsEditor", box);
    connect(patterns, &QPlainTextEdit::textChanged, this, [this] {
        Settings s = app.settings();
        s.localTitlePatterns = SettingsModel::lines(patterns->toPlainText());
        write(s);
    });
    column->addWidget(patterns);
    return box;
}

QWidget* BehaviorSettings::buildResident()
{
    QGroupBox* box = section(QStringLiteral("常驻"), this);
    auto* column = static_cast<QVBoxLayout*>(box->layout());
    launchAtLogin = new QCheckBox(QStringLiteral("开机自动打开 tarnel（登录项）"), box);
    launchAtLogin->setObjectName(QStringLiteral("launchAtLoginToggle"));
    connect(launchAtLogin, &QCheckBox::clicked, this, [this](bool on) {
        Settings s = app.settings();
        s.launchAtLogin = on;
        write(s);
    });
    column->addWidget(launchAtLogin);
    launchAtLoginNote = Parts::caption(QString(), box);
    launchAtLoginNote->setObjectName(QStringLiteral("launchAtLoginNote"));
    launchAtLoginNote->setWordWrap(true);
    column->addWidget(launchAtLoginNote);
    keepAlive = new QCheckBox(QStringLiteral("崩溃后自动重启（systemd 用户服务；开了它登录项会自动关掉，避免双启）"), box);
    keepAlive->setObjectName(QStringLiteral("keepAliveToggle"));
    connect(keepAlive, &QCheckBox::clicked, this, [this](bool on) {
        Settings s = app.settings();
        s.keepAliveAgent = on;
        write(s);
    });
    column->addWidget(keepAlive);
    keepAliveNote = Parts::caption(QString(), box);
    keepAliveNote->setObjectName(QStringLiteral("keepAliveNote"));
    keepAliveNote->setWordWrap(true);
    column->addWidget(keepAliveNote);
    return box;
}

QWidget* BehaviorSettings::buildAdvanced()
{
    QGroupBox* box = section(QStringLiteral("高级"), this);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("新服务器的远程目录"), box));
    remoteDir = new QLineEdit(box);
    remoteDir->setObjectName(QStringLiteral("remoteDirField"));
    connect(remoteDir, &QLineEdit::returnPressed, this, &BehaviorSettings::commitRemoteDir);
    row->addWidget(remoteDir, 1);
    row->addWidget(Parts::caption(QStringLiteral("默认 ~/tarnel"), box));
    static_cast<QVBoxLayout*>(box->layout())->addLayout(row);
    return box;
}

QPlainTextEdit* BehaviorSettings::listEditor(const char* name, QWidget* parent)
{
    auto* editor = new QPlainTextEdit(parent);
    editor->setObjectName(QString::fromLatin1(name));
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSize(9);
    editor->setFont(mono);
    editor->setFixedHeight(70);
    editor->setTabChangesFocus(true);
    return editor;
}

QToolButton* BehaviorSettings::stepButton(Stepper stepper, int direction) const
{
    for (const StepperRow& row : steppers)
        if (row.kind == stepper)
            return direction > 0 ? row.up : row.down;
    return nullptr;
}

QLabel* BehaviorSettings::stepLabel(Stepper stepper) const
{
    for (const StepperRow& row : steppers)
        if (row.kind == stepper)
            return row.text;
    return nullptr;
}

void BehaviorSettings::showEvent(QShowEvent* event)
{
    loadLocalCopies();
    QWidget::showEvent(event);
}

void BehaviorSettings::write(const Settings& settings)
{
    if (settings == app.settings())
        return;
    app.setSettings(settings);
}

void BehaviorSettings::loadLocalCopies()
{
    const Settings& s = app.settings();
    reloadList(terminals, s.terminalBundleIDs);
    reloadList(patterns, s.localTitlePatterns);
    token->setText(s.tokenFormat);
    remoteDir->setText(s.defaultRemoteDir);
}

void BehaviorSettings::reloadList(QPlainTextEdit* editor, const QStringList& stored)
{
    // Reloading under the user's typing would move the cursor and eat blank lines not yet filled.
    if (editor->hasFocus() || SettingsModel::lines(editor->toPlainText()) == stored)
        return;
    const QSignalBlocker quiet(editor);
    editor->setPlainText(joined(stored));
}

void BehaviorSettings::commitToken()
{
    if (const auto next = SettingsModel::committedToken(app.settings(), token->text()))
        write(*next);
    else
        token->setText(app.settings().tokenFormat);
}

void BehaviorSettings::commitRemoteDir()
{
    if (const auto next = SettingsModel::committedRemoteDir(app.settings(), remoteDir->text()))
        write(*next);
    else
        remoteDir->setText(app.settings().defaultRemoteDir);
}

void BehaviorSettings::refresh()
{
    const Settings& s = app.settings();
    longSide->setCurrentIndex(longSide->findData(s.maxLongSide));
    for (const StepperRow& row : std::as_const(steppers)) {
        row.text->setText(SettingsModel::label(row.kind, s));
        row.down->setEnabled(SettingsModel::canStep(row.kind, s, -1));
        row.up->setEnabled(SettingsModel::canStep(row.kind, s, 1));
    }
    saveWhenNoServer->setChecked(s.saveWhenNoServer);
    if (QAbstractButton* mode = pasteModes->button(int(s.pasteMode)))
        mode->setChecked(true);

    QList<std::pair<QString, QUuid>> rows{{QStringLiteral("列表第一台"), QUuid()}};
    for (const Server& server : app.registry().servers())
        rows << std::pair{server.name, server.id};
    bool same = rows.size() == defaultServer->count();
    for (int i = 0; same && i < rows.size(); ++i)
        same = defaultServer->itemText(i) == rows[i].first && defaultServer->itemData(i).toUuid() == rows[i].second;
    if (!same) {
        defaultServer->clear();
        for (const auto& [name, id] : rows)
            defaultServer->addItem(name, id);
    }
    defaultServer->setCurrentIndex(s.defaultServerID ? defaultServer->findData(*s.defaultServerID) : 0);

    terminalCaption->setText(SettingsModel::terminalCaption(s));
    reloadList(terminals, s.terminalBundleIDs);
    reloadList(patterns, s.localTitlePatterns);

    // Where nothing is set up at login, the toggle must not claim it is.
    const bool bundle = AppInfo::current().runsAsBundle();
    const bool dataOverride = Paths::dataOverride().has_value();
    const std::optional<QString> unavailable = SettingsModel::loginItemUnavailable(bundle, dataOverride);
    launchAtLogin->setChecked(!unavailable && s.launchAtLogin);
    launchAtLogin->setEnabled(!unavailable && !s.keepAliveAgent);
    launchAtLoginNote->setText(unavailable.value_or(QString()));
    launchAtLoginNote->setVisible(unavailable.has_value());
    const std::optional<QString> noAgent = SettingsModel::keepAliveUnavailable(bundle, dataOverride);
    keepAlive->setChecked(!noAgent && s.keepAliveAgent);
    keepAlive->setEnabled(!noAgent);
    keepAliveNote->setText(noAgent.value_or(QString()));
    keepAliveNote->setVisible(noAgent.has_value());
}
