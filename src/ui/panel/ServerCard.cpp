#include "ui/panel/ServerCard.h"

#include "app/AppState.h"
#include "capture/ShotStore.h"
#include "delivery/Uploader.h"
#include "platform/Flash.h"
#include "state/Clock.h"
#include "ui/kit/Badge.h"
#include "ui/kit/OnScreen.h"
#include "ui/kit/Parts.h"
#include "ui/kit/StatusDot.h"
#include "ui/kit/StatusLabel.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Theme.h"
#include "ui/panel/ScriptSheet.h"
#include "ui/panel/ServerCardModel.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
constexpr int cornerRadius = 10;
} // namespace

ServerCard::ServerCard(AppState& app, QWidget* parent) : QFrame(parent), app(app)
{
    setObjectName(QStringLiteral("serverCard"));
    setAttribute(Qt::WA_Hover);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(12, 12, 12, 12);
    stack->setSpacing(10);

    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    dot = new StatusDot(10, this);
    dot->setObjectName(QStringLiteral("statusDot"));
    header->addLayout(Parts::pinnedTop(dot, 5));

    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(6);
    name = Parts::heading(QString(), this);
    name->setObjectName(QStringLiteral("serverName"));
    name->setTextFormat(Qt::PlainText);
    port = Parts::note("serverPort", this, 0);
    port->setWordWrap(false);
    deviceBadge = new Badge(QStringLiteral("设备"), QStringLiteral("accent"), this);
    deviceBadge->setObjectName(QStringLiteral("deviceBadge"));
    hostname = Parts::note("remoteHostname", this);
    hostname->setWordWrap(false);
    titleRow->addWidget(name);
    titleRow->addWidget(port);
    titleRow->addWidget(deviceBadge);
    titleRow->addWidget(hostname);
    titleRow->addStretch(1);
    texts->addLayout(titleRow);
    statusLine = Parts::note("statusLine", this, -1);
    texts->addWidget(statusLine);
    header->addLayout(texts, 1);

    syncColumn = new QWidget(this);
    auto* syncStack = new QVBoxLayout(syncColumn);
    syncStack->setContentsMargins(0, 0, 0, 0);
    syncStack->setSpacing(2);
    sync = new QCheckBox(syncColumn);
    sync->setObjectName(QStringLiteral("syncSwitch"));
    sync->setToolTip(QStringLiteral("同步"));
    syncText = Parts::note("syncText", syncColumn, -3);
    syncText->setWordWrap(false);
    syncStack->addWidget(sync, 0, Qt::AlignRight);
    syncStack->addWidget(syncText, 0, Qt::AlignRight);
    header->addWidget(syncColumn, 0, Qt::AlignTop);
    connect(sync, &QCheckBox::clicked, this, [this](bool on) {
        // The switch follows the registry's list; the click only asks for the change.
        sync->setChecked(current.enabled);
        this->app.registry().setEnabled(current.id, on);
    });

    actions = new QMenu(this);
    actions->setObjectName(QStringLiteral("serverMenu"));
    // A change that came while the menu was open shows the next time it opens.
    connect(actions, &QMenu::aboutToShow, this, &ServerCard::syncMenu);
    menuButton = Parts::menuButton("serverMenuButton", actions, this);
    header->addWidget(menuButton, 0, Qt::AlignTop);
    stack->addLayout(header);

    failureRow = new QWidget(this);
    auto* failure = new QVBoxLayout(failureRow);
    failure->setContentsMargins(0, 0, 0, 0);
    retry = new QPushButton(QStringLiteral("重试"), failureRow);
    retry->setObjectName(QStringLiteral("retryButton"));
    connect(retry, &QPushButton::clicked, this, &ServerCard::reconnect);
    failure->addWidget(retry, 0, Qt::AlignLeft);

    form = new QWidget(failureRow);
    auto* formStack = new QVBoxLayout(form);
    formStack->setContentsMargins(22, 0, 0, 0);
    formStack->setSpacing(6);
    auto* formRow = new QHBoxLayout;
    formRow->setSpacing(8);
    formUser = new QLineEdit(form);
    formUser->setObjectName(QStringLiteral("formUser"));
    formUser->setPlaceholderText(QStringLiteral("用户名"));
    formUser->setFixedWidth(120);
    formPassword = new QLineEdit(form);
    formPassword->setObjectName(QStringLiteral("formPassword"));
    formPassword->setEchoMode(QLineEdit::Password);
    formPassword->setPlaceholderText(QStringLiteral("密码（用钥匙登录的可不填）"));
    login = Parts::button("loginButton", QStringLiteral("登录"), form);
    login->setEnabled(false);
    formRow->addWidget(formUser);
    formRow->addWidget(formPassword, 1);
    formRow->addWidget(login);
    formStack->addLayout(formRow);
    formNote = Parts::note("formNote", form);
    formNote->setColorRole(QStringLiteral("orange"));
    formNote->hide();
    formStack->addWidget(formNote);
    failure->addWidget(form);
    stack->addWidget(failureRow);
    connect(formUser, &QLineEdit::textChanged, this,
        [this](const QString& text) { login->setEnabled(ServerCardModel::canLogIn(text)); });
    connect(login, &QPushButton::clicked, this, &ServerCard::submitCredentials);

    ticker.setInterval(1000);
    connect(&ticker, &QTimer::timeout, this, &ServerCard::updateStatusLine);
    onScreen = new OnScreen(*this, [this](bool shown) {
        followTicker();
        if (shown)
            updateStatusLine();
    });
}

void ServerCard::followTicker()
{
    if (status.kind == Status::Kind::connecting && onScreen->now()) {
        if (!ticker.isActive())
            ticker.start();
    } else {
        ticker.stop();
    }
}

void ServerCard::setContent(const Server& server, const Status& next, bool lit)
{
    current = server;
    status = next;
    highlighted = lit;
    if (!filledUser && formUser->text().isEmpty()) {
        formUser->setText(server.user.value_or(QString()));
        filledUser = true;
    }
    if (!actions->isVisible())
        syncMenu();

    name->setText(server.name);
    port->setText(ServerCardModel::portSuffix(server));
    port->setVisible(!port->text().isEmpty());
    deviceBadge->setVisible(server.isDevice());
    deviceBadge->setToolTip(QStringLiteral("同账号的另一台电脑：截图经 tarnel-net 隧道传到它的 ") + server.remoteDir);
    const auto remoteName = ServerCardModel::hostnameBeside(server, next);
    hostname->setText(remoteName.value_or(QString()));
    hostname->setVisible(remoteName.has_value());

    const auto look = ServerCardModel::dot(next);
    dot->setColorRole(look.role);
    dot->setGlowing(look.glow);
    dot->setPulsing(look.pulse);

    syncColumn->setVisible(ServerCardModel::showsSync(server, next));
    sync->setChecked(server.enabled);
    syncText->setText(server.enabled ? QStringLiteral("同步开") : QStringLiteral("同步关"));

    const bool failed = next.kind == Status::Kind::failed;
    const bool credentials = ServerCardModel::showsCredentials(next);
    failureRow->setVisible(failed);
    retry->setVisible(failed && !credentials);
    form->setVisible(credentials);

    followTicker();
    updateStatusLine();
    update();
}

void ServerCard::updateStatusLine()
{
    const QDateTime now = Clock::instance().now();
    const int done = app.shots().doneCount(current.id, now);
    const auto line = ServerCardModel::statusLine(current, status, done, now);
    if (statusLine->text() != line.text)
        statusLine->setText(line.text);
    statusLine->setColorRole(line.role);
}

void ServerCard::syncMenu()
{
    const std::pair<bool, bool> wanted{current.isDevice(), current.setup.keyInstalled};
    if (menuBuiltFor != wanted)
        buildMenu();
}

void ServerCard::buildMenu()
{
    menuBuiltFor = std::pair<bool, bool>{current.isDevice(), current.setup.keyInstalled};
    actions->clear();
    auto add = [this](const char* objectName, const QString& text, auto slot) {
        QAction* action = actions->addAction(text, this, slot);
        action->setObjectName(QString::fromLatin1(objectName));
        return action;
    };
    add("reconnectAction", QStringLiteral("重新连接"), [this] { reconnect(); });
    QAction* fill = add("fillAction", QStringLiteral("补传今天的截图到这台"), [this] { app.uploader().fillServer(current); });
    fill->setEnabled(current.setup.keyInstalled);
    if (current.isDevice()) {
        add("reinstallAction", QStringLiteral("重新放接收器（接收器升级 / 目录改了）"),
            [this] { app.registry().reinitialize(current.id); });
        add("deviceScriptAction", QStringLiteral("查看要在对方电脑上跑的脚本"), [this] { showDeviceScript(); });
    } else {
        add("reinstallAction", QStringLiteral("重新初始化服务器端（重装接收器和钥匙）"),
            [this] { app.registry().reinitialize(current.id); });
        add("advancedAction", QStringLiteral("高级…"), [this] {
            if (openAdvanced)
                openAdvanced(current.id);
        });
    }
    actions->addSeparator();
    const bool device = current.isDevice();
    add("removeAction", device ? QStringLiteral("移除（对方电脑上保留截图目录）") : QStringLiteral("移除（服务器上保留截图目录）"),
        [this] { remove(false); });
    add("removePurgeAction", device ? QStringLiteral("移除并清掉对方电脑上的 tarnel 目录") : QStringLiteral("移除并清掉服务器上的 tarnel"),
        [this] { remove(true); });
}

void ServerCard::showDeviceScript()
{
    const Server device = current;
    auto* sheet = new ScriptSheet(app, ServerCardModel::deviceScriptTitle(device),
        [device] { return ServerCardModel::deviceScript(device); }, 360, ScriptSheet::Buttons::atRight, window());
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
}

void ServerCard::reconnect() { app.registry().connectServer(current.id, current.user); }

void ServerCard::submitCredentials()
{
    const QString user = ServerCardModel::loginName(formUser->text());
    if (const auto problem = ServerCardModel::loginNameProblem(formUser->text())) {
        formNote->setText(*problem);
        formNote->show();
        return;
    }
    formNote->clear();
    formNote->hide();
    std::optional<QString> password;
    if (!formPassword->text().isEmpty()) {
        password = formPassword->text();
        formPassword->clear();
    }
    app.registry().connectServer(current.id, user, password);
}

void ServerCard::remove(bool purge)
{
    AppState* hub = &app;
    const Server removed = current; // the record the password retry works on once it has left the list
    app.registry().remove(current.id, purge, [hub, removed, purge](const Outcome<QString>& outcome) {
        if (outcome.ok())
            hub->flash().show(QImage(), outcome.value());
        else if (outcome.needsPassword())
            hub->requestRemovalPassword({removed, purge});
        else
            hub->flash().show(QImage(), outcome.failure());
    });
}

void ServerCard::paintEvent(QPaintEvent* event)
{
    const auto look = ServerCardModel::border(status, highlighted);
    Parts::paintOutlinedCard(*this, look.role, look.opacity, look.width, cornerRadius);
    QFrame::paintEvent(event);
}
