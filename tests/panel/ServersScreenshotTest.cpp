#include "servers/ServerRegistry.h"
#include "support/FakeClock.h"
#include "support/PanelRig.h"
#include "support/ServersPageView.h"
#include "support/WindowShot.h"
#include "ui/panel/AddServerBox.h"
#include "ui/panel/PanelHeader.h"
#include "ui/panel/PanelModel.h"
#include "ui/panel/PanelView.h"
#include "ui/panel/PasswordPrompt.h"
#include "ui/panel/ServerCard.h"
#include "ui/panel/ScriptSheet.h"
#include "ui/panel/ServerAdvancedSheet.h"
#include "ui/panel/ServersPage.h"
#include "delivery/SSHKey.h"
#include "ui/kit/ElidedLabel.h"

#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

// Renders the servers page in its fixture states into <build>/artifacts/servers/ for a person to look at.
// The statuses are put on the cards directly: no connection runs.
class ServersScreenshotTest : public QObject {
    Q_OBJECT

    using Status = ServerRegistry::Status;
    const PageShots shots{QStringLiteral("servers")};
    const QDateTime noon = shots.noon;
    TempDataDir data;

    void shoot(QWidget& widget, const QString& name) { shots.shoot(widget, name); }

    static std::unique_ptr<PanelView> page(AppState& app)
    {
        return openServersPage(app, {SSHSession{QStringLiteral("alice"), QStringLiteral("fd00::5"), 2200},
                                        SSHSession{QStringLiteral("root"), QStringLiteral("10.0.0.9"), std::nullopt}});
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(QDir().mkpath(shots.folder)); }

    void empty()
    {
        FakeClock clock(noon);
        PanelRig rig(data);
        auto view = page(rig.build());
        shoot(*view, QStringLiteral("empty"));
    }

    // A data folder of 186 characters: shortened in the middle beside the flask, the version at the right.
    // Then the box as it comes back after a page switch (typed text and error gone).
    void longDataFolderAndFreshBox()
    {
        FakeClock clock(noon);
        PanelRig rig(data);
        auto view = page(rig.build());
        view->resize(760, 520);
        view->serversPage()->findChild<ElidedLabel*>(QStringLiteral("serversFooter"))
            ->setText(QStringLiteral("测试数据目录：/home/qx/work/") + QString(160, QLatin1Char('x')) + QStringLiteral("/tarnel-data"));
        QLineEdit* field = view->serversPage()->addBox()->field();
        field->setText(QStringLiteral("bob@"));
        view->serversPage()->addBox()->connectTyped();
        shoot(*view, QStringLiteral("long-data-folder"));
        rig.app().setPanelTab(PanelTab::shots);
        view->flush();
        rig.app().setPanelTab(PanelTab::servers);
        view->flush();
        shoot(*view, QStringLiteral("box-after-page-switch"));
    }

    void threeStagesAndTheLoginForm()
    {
        FakeClock clock(noon);
        PanelRig rig(data);
        rig.addServer(QStringLiteral("devbox")).user = QStringLiteral("alice");
        rig.addServer(QStringLiteral("gpu"), true, false).port = 2222;
        rig.addServer(QStringLiteral("nas"), true, false);
        auto view = page(rig.build());
        const Server a = rig.app().registry().servers().at(0), b = rig.app().registry().servers().at(1),
                     c = rig.app().registry().servers().at(2);
        ServersPage* servers = view->serversPage();
        servers->card(a.id)->setContent(a, Status::connected({QStringLiteral("alice"), QStringLiteral("dev-7f3a")}), true);
        servers->card(b.id)->setContent(b, Status::connecting(noon.addSecs(-4), ConnectFlow::Stage::installing), false);
        servers->card(c.id)->setContent(c, Status::failed(Failure{QStringLiteral("连不上 nas.example：Connection timed out")}), false);
        shoot(*view, QStringLiteral("three-stages"));

        const auto needsName = Status::failed(Failure::needingLoginName(QStringLiteral("试过 root、ubuntu、admin 都登不上：填上登录名（和密码）再试"), true));
        servers->card(c.id)->setContent(c, needsName, false);
        servers->card(c.id)->userField()->setText(QStringLiteral("-bob"));
        servers->card(c.id)->loginButton()->click();
        servers->card(c.id)->setContent(c, needsName, false);
        shoot(*view, QStringLiteral("login-form"));

        PasswordPrompt prompt(QStringLiteral("这台是用密码登录的，吊销钥匙要再输一次密码"));
        prompt.show();
        shoot(prompt, QStringLiteral("password-prompt"));
        rig.app().registry().cancelAll();
    }

    // Uploads found one server refusing the key: its card and the header say so (the header as the registry's
    // statuses would make it, on both pages).
    void unreachableAfterUploads()
    {
        FakeClock clock(noon);
        PanelRig rig(data);
        rig.addServer(QStringLiteral("devbox")).user = QStringLiteral("alice");
        rig.addServer(QStringLiteral("127.0.0.1")).user = QStringLiteral("root");
        rig.addServer(QStringLiteral("mybox"), true, false).user = QStringLiteral("root"); // the same account again
        auto view = page(rig.build());
        const QList<Server> listed = rig.app().registry().servers();
        const Server a = listed.at(0), b = listed.at(1), c = listed.at(2);
        const QString why = QStringLiteral("钥匙被拒：点「重新连接」重新装接收器");
        const QString twice = QStringLiteral("这台服务器已经在列表里（127.0.0.1，用户 root）：同一个账号不用再加，把这条移除就好");
        ServersPage* servers = view->serversPage();
        servers->card(a.id)->setContent(a, Status::connected({QStringLiteral("alice"), QStringLiteral("dev-7f3a")}), false);
        servers->card(b.id)->setContent(b, Status::failed(Failure{why}), false);
        servers->card(c.id)->setContent(c, Status::failed(Failure{twice}), false);
        PanelFacts facts;
        facts.servers = listed;
        facts.statuses = {{a.id, Status::Kind::connected}, {b.id, Status::Kind::failed}, {c.id, Status::Kind::failed}};
        facts.failures = {{b.id, why}, {c.id, twice}};
        auto* header = view->findChild<PanelHeader*>();
        header->refresh(PanelModel(facts), PanelTab::servers);
        shoot(*view, QStringLiteral("unreachable-after-uploads"));
        header->refresh(PanelModel(facts), PanelTab::shots);
        shoot(*header, QStringLiteral("unreachable-header"));
        facts.statuses[a.id] = Status::Kind::failed;
        facts.failures[a.id] = QStringLiteral("连不上：ssh: connect to host devbox.example port 22: Connection refused");
        header->refresh(PanelModel(facts), PanelTab::shots);
        shoot(*header, QStringLiteral("unreachable-header-all"));
        rig.app().registry().cancelAll();
    }

    void anotherUserForAListedServer()
    {
        FakeClock clock(noon);
        PanelRig rig(data);
        rig.addServer(QStringLiteral("devbox")).user = QStringLiteral("alice");
        auto view = page(rig.build());
        QLineEdit* field = view->serversPage()->addBox()->field();
        field->setText(QStringLiteral("bob@devbox.example"));
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(field->text(), QStringLiteral("bob@devbox.example"));
        QCOMPARE(rig.app().registry().servers().size(), 1);
        shots.shoot(*view, QStringLiteral("listed-other-user"), true);
        rig.app().registry().cancelAll();
    }

    void sheets()
    {
        FakeClock clock(noon);
        PanelRig rig(data);
        QVERIFY(SSHKey::ensure(SSHKey::defaultPath(), QStringLiteral("tarnel@workstation")).ok());
        Server& gpu = rig.addServer(QStringLiteral("gpu"));
        gpu.port = 2222;
        gpu.user = QStringLiteral("alice");
        gpu.proxyJump = QStringLiteral("ops@bastion.example");
        gpu.matchKeywords = {QStringLiteral("10.0.0.7"), QStringLiteral("alice@")};
        gpu.setup.ruleBlocks = {QStringLiteral("claude")};
        const Server g = gpu;
        Server mac;
        mac.name = QStringLiteral("studio");
        mac.host = QStringLiteral("qx-studio");
        mac.deviceID = QStringLiteral("dev-1");
        mac.deviceAlias = QStringLiteral("qx-studio");
        rig.addServer(mac);
        auto view = page(rig.build());

        view->serversPage()->card(g.id)->menu()->findChild<QAction*>(QStringLiteral("advancedAction"))->trigger();
        auto* sheet = view->findChild<ServerAdvancedSheet*>();
        QVERIFY(sheet);
        shoot(*sheet, QStringLiteral("advanced"));
        sheet->findChild<QLineEdit*>(QStringLiteral("portField"))->setText(QStringLiteral(" 22"));
        sheet->save();
        shoot(*sheet, QStringLiteral("advanced-note"));
        sheet->showRulePreview();
        shoot(*sheet->scriptSheet(), QStringLiteral("rule-preview"));
        sheet->showInstallScript();
        shoot(*sheet->scriptSheet(), QStringLiteral("install-script"));

        ServerCard card(rig.app());
        card.setContent(mac, Status{}, false);
        card.menu()->findChild<QAction*>(QStringLiteral("deviceScriptAction"))->trigger();
        auto* deviceSheet = card.findChild<ScriptSheet*>();
        QVERIFY(deviceSheet);
        shoot(*deviceSheet, QStringLiteral("device-script"));
        rig.app().registry().cancelAll();
    }
};

QTEST_MAIN(ServersScreenshotTest)
#include "ServersScreenshotTest.moc"
