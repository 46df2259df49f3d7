#include "ui/settings/AboutView.h"

#include "account/Account.h"
#include "account/QXServer.h"
#include "app/AppState.h"
#include "state/AppInfo.h"
#include "state/Paths.h"
#include "ui/kit/Parts.h"
#include "ui/kit/StatusLabel.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Theme.h"
#include "ui/settings/SettingsModel.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
void openFolder(AppState& app, const QString& folder)
{
    Paths::ensure(folder); // opened whether or not it could be made: the file manager then says why
    app.openPath(folder);
}
} // namespace

AboutView::AboutView(AppState& app, QWidget* parent) : QWidget(parent), app(app)
{
    setObjectName(QStringLiteral("aboutView"));
    QVBoxLayout* column = Parts::scrollingColumn(*this, 8, 12);
    QWidget* content = column->parentWidget();

    column->addWidget(buildHeader());
    column->addWidget(buildFolders());
    column->addWidget(Parts::divider(content, QFrame::Sunken));
    column->addWidget(Parts::heading(QStringLiteral("账号与更新"), content));
    column->addWidget(buildAccount());
    column->addWidget(Parts::caption(
        QStringLiteral("每 6 小时自动报到一次（账号是否可用）并检查新版本；有新版本会下载好、核对签名后再问你。官网 ")
            + QXServer::defaultURL().host(),
        content));
    // The box and its long label apart, so the label wraps instead of widening the page.
    auto* channelRow = new QHBoxLayout;
    testChannel = new QCheckBox(content);
    testChannel->setObjectName(QStringLiteral("testChannelToggle"));
    testChannel->setAccessibleName(QStringLiteral("接收测试版更新"));
    channelRow->addWidget(testChannel, 0, Qt::AlignTop);
    channelRow->addWidget(Parts::text(QString(), -1, content,
        QStringLiteral("接收测试版更新（test 渠道；手动点「检查更新」会直接下载、校验、换包重开）")), 1);
    connect(testChannel, &QCheckBox::clicked, this, [this](bool on) {
        Settings s = this->app.settings();
        s.updateChannelTest = on;
        this->app.setSettings(s);
    });
    column->addLayout(channelRow);
    testChannelNote = Parts::caption(
        QStringLiteral("测试版会每 10 分钟把运行日志（tarnel.log / 设备互联日志 / 链路状态）自动发到后台，方便开发者排查；不含截图、剪贴板和钥匙。取消勾选即停止。"),
        content);
    testChannelNote->setObjectName(QStringLiteral("testChannelNote"));
    column->addWidget(testChannelNote);

    column->addWidget(Parts::divider(content, QFrame::Sunken));
    column->addWidget(Parts::heading(QStringLiteral("安全承诺"), content));
    const QStringList promises = SettingsModel::safetyPromises();
    for (int i = 0; i < promises.size(); ++i) {
        StatusLabel* promise = Parts::text(QString(), -1, content, QStringLiteral("%1. ").arg(i + 1) + promises[i]);
        promise->setObjectName(QStringLiteral("promise%1").arg(i + 1));
        column->addWidget(promise);
    }
    column->addWidget(Parts::divider(content, QFrame::Sunken));
    column->addWidget(Parts::heading(QStringLiteral("卸载"), content));
    StatusLabel* uninstall = Parts::text(QString(), -1, content, SettingsModel::uninstallText(Paths::dataDirectory()));
    uninstall->setObjectName(QStringLiteral("uninstallText"));
    uninstall->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(uninstall);
    column->addWidget(Parts::caption(
        QStringLiteral("代码开源 · 只依赖 Qt、OpenSSL 和系统自带的 ssh（设备互联 tarnel-net 也一样）"), content));
    column->addStretch(1);

    connect(&app, &AppState::changed, this, &AboutView::refresh);
    connect(&app.account(), &Account::changed, this, &AboutView::refresh);
    refresh();
}

QWidget* AboutView::buildHeader()
{
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    auto* icon = new QLabel(header);
    icon->setPixmap(Symbols::pixmap(Symbols::appIcon(), 56));
    row->addWidget(icon);
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    QLabel* title = Parts::heading(QStringLiteral("tarnel ") + AppInfo::current().version, header, 8);
    title->setObjectName(QStringLiteral("aboutTitle"));
    names->addWidget(title);
    StatusLabel* build = Parts::caption(
        QStringLiteral("构建 ") + AppInfo::current().build + QStringLiteral(" · 截图中转到你的服务器"), header);
    build->setObjectName(QStringLiteral("aboutBuild"));
    names->addWidget(build);
    row->addLayout(names, 1);
    return header;
}

QWidget* AboutView::buildFolders()
{
    auto* area = new QWidget(this);
    auto* row = new QHBoxLayout(area);
    row->setContentsMargins(0, 0, 0, 0);
    onboarding = Parts::button("reopenOnboardingButton", QStringLiteral("重新看一遍引导"), area);
    connect(onboarding, &QPushButton::clicked, this, [this] {
        if (app.openOnboarding)
            app.openOnboarding();
    });
    QPushButton* data = Parts::button("openDataButton", QStringLiteral("打开数据目录"), area);
    connect(data, &QPushButton::clicked, this, [this] { openFolder(app, Paths::dataDirectory()); });
    QPushButton* logs = Parts::button("openLogsButton", QStringLiteral("打开日志"), area);
    connect(logs, &QPushButton::clicked, this, [this] { openFolder(app, Paths::logsDirectory()); });
    for (QPushButton* button : {onboarding, data, logs})
        row->addWidget(button);
    row->addStretch(1);
    return area;
}

QWidget* AboutView::buildAccount()
{
    auto* area = new QWidget(this);
    auto* row = new QHBoxLayout(area);
    row->setContentsMargins(0, 0, 0, 0);
    account = new QLabel(area);
    account->setObjectName(QStringLiteral("accountLine"));
    account->setTextFormat(Qt::PlainText);
    row->addWidget(account);
    signOut = Parts::button("signOutButton", QStringLiteral("退出登录"), area);
    connect(signOut, &QPushButton::clicked, this, [this] { app.account().signOut(); });
    signIn = Parts::button("signInButton", QStringLiteral("登录 / 注册…"), area);
    connect(signIn, &QPushButton::clicked, this, [this] {
        if (app.showLoginWindow)
            app.showLoginWindow(false);
    });
    QPushButton* updates = Parts::button("checkUpdatesButton", QStringLiteral("检查更新"), area);
    connect(updates, &QPushButton::clicked, this, [this] { app.checkUpdates(); });
    feedback = Parts::button("feedbackButton", QStringLiteral("反馈问题…"), area);
    connect(feedback, &QPushButton::clicked, this, [this] {
        if (app.showFeedbackWindow)
            app.showFeedbackWindow();
    });
    for (QWidget* w : std::initializer_list<QWidget*>{signOut, signIn, updates, feedback})
        row->addWidget(w);
    row->addStretch(1);
    return area;
}

void AboutView::refresh()
{
    const auto& record = app.account().record();
    account->setText(SettingsModel::accountLine(record, app.account().status()));
    Theme::applyTextRole(*account, record ? QString() : QStringLiteral("secondary"));
    signOut->setVisible(record.has_value());
    signIn->setVisible(!record.has_value());
    // Hooks that nobody set stand for windows that do not exist: no button leads nowhere.
    onboarding->setVisible(bool(app.openOnboarding));
    feedback->setVisible(bool(app.showFeedbackWindow));
    testChannel->setChecked(app.settings().updateChannelTest);
    testChannelNote->setVisible(app.settings().updateChannelTest);
}
