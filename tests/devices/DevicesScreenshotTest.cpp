#include "link/LinkManager.h"
#include "support/FakeClock.h"
#include "support/LinkedPanelRig.h"
#include "support/WindowShot.h"
#include "ui/devices/DeviceCard.h"
#include "ui/devices/DevicesPage.h"
#include "ui/devices/InboundSetup.h"
#include "ui/devices/KeyAddSheet.h"
#include "ui/devices/RenameDeviceSheet.h"
#include "ui/devices/ShortCommandSheet.h"
#include "ui/panel/PanelView.h"

#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTcpServer>
#include <QToolButton>
#include <QTest>

// Renders the devices page and its sheets in fixture states into <build>/artifacts/devices/ for a person to
// look at. The link program is the scriptable stand-in; tunnel states come from the page's hooks.
class DevicesScreenshotTest : public QObject {
    Q_OBJECT

    using Kind = Tunnel::Kind;
    const PageShots shots{QStringLiteral("devices")};
    const QDateTime noon = shots.noon;
    TempDataDir data;

    void shoot(QWidget& widget, const QString& name) { shots.shoot(widget, name, true); }

    std::unique_ptr<PanelView> page(AppState& app, bool inbound)
    {
        Settings s = app.settings();
        s.onboardingDone = true;
        s.remoteAccess = inbound;
        app.setSettings(s);
        app.setPanelTab(PanelTab::devices);
        auto view = std::make_unique<PanelView>(app, [] {});
        view->resize(760, 980);
        view->show();
        view->flush();
        view->devicesPage()->refresh();
        return view;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(QDir().mkpath(shots.folder)); }

    void noLinkProgram()
    {
        FakeClock clock(noon);
        PanelRig rig(data);
        rig.signIn();
        AppState& app = rig.build();
        app.link().programPath = [] { return std::optional<QString>(); };
        app.link().start();
        auto view = page(app, false);
        shoot(*view, QStringLiteral("no-link-program"));
    }

    void linkingWithoutPeers()
    {
        FakeClock clock(noon);
        LinkedPanelRig rig(data);
        QVERIFY(rig.start());
        QVERIFY(rig.publish({}));
        auto view = page(rig.app(), true);
        shoot(*view, QStringLiteral("no-peers"));
    }

    void onlyAnOfflinePeer()
    {
        FakeClock clock(noon);
        LinkedPanelRig rig(data);
        QVERIFY(rig.start());
        QVERIFY(rig.publish({LinkedPanelRig::peer(QStringLiteral("old"), QStringLiteral("旧笔记本"), false, true)}));
        auto view = page(rig.app(), true);
        shoot(*view, QStringLiteral("offline-peer-only"));
    }

    void peersInEveryState()
    {
        FakeClock clock(noon);
        LinkedPanelRig rig(data);
        PeerDevice den = LinkedPanelRig::peer(QStringLiteral("den"), QStringLiteral("书房 iMac"), true, true);
        den.model = QStringLiteral("ThinkPad X1");
        den.appBuild = 57;
        den.remoteAccess = true;
        den.link = LinkStatus{.state = QStringLiteral("connected"), .appRttMs = 3.4, .inboundTunnels = 1};
        PeerDevice lab = LinkedPanelRig::peer(QStringLiteral("lab"), QString(), true, true);
        lab.remoteAccess = true;
        lab.link = LinkStatus{.state = QStringLiteral("connected"), .path = QStringLiteral("relay"), .iceRttMs = 41};
        PeerDevice old = LinkedPanelRig::peer(QStringLiteral("old"), QStringLiteral("旧笔记本"), false);
        old.lastSeen = QStringLiteral("2025-03-01T21:14:09+08:00");
        Server& destination = rig.panel.addServer(QStringLiteral("书房 iMac"));
        destination.deviceID = den.id;
        destination.deviceAlias = den.alias;
        destination.remoteDir = QStringLiteral("~/tarnel");
        QVERIFY(rig.start());
        rig.allowKeys({den});
        QVERIFY(rig.publish({den, lab, old}));

        auto view = page(rig.app(), true);
        DevicesPage* devices = view->devicesPage();
        devices->commands.tunnel = [](const PeerDevice& peer) {
            Tunnel t;
            t.kind = peer.id == QLatin1String("den") ? Kind::open : Kind::failed;
            t.message = QStringLiteral("对方还没允许你免密登录（Permission denied (publickey)）");
            t.needsKey = true;
            return t;
        };
        devices->commands.commandText = [](const PeerDevice& peer) {
            return QStringLiteral("ssh -F \"/home/lee/.local/share/tarnel/ssh_config_devices\" ") + peer.alias;
        };
        devices->refresh();
        shoot(*view, QStringLiteral("peers-setup-open"));
        // A command longer than its box shows "…" in its middle; the menu's last item is destructive.
        const auto shortCommand = devices->commands.commandText;
        devices->commands.commandText = [](const PeerDevice& peer) {
            return QStringLiteral("ssh -F \"/home/lee/projects/tarnel-test-data/a-long-data-folder/ssh_config_devices\" ") + peer.alias;
        };
        devices->refresh();
        shoot(*view, QStringLiteral("peers-long-command"));
        devices->commands.commandText = shortCommand;
        devices->refresh();
        QMenu* menu = devices->card(den.id)->menu();
        menu->popup(QPoint(0, 0));
        shoot(*menu, QStringLiteral("device-menu"));
        menu->hide();

        devices->offlineToggle()->click();
        devices->commands.tunnel = [&](const PeerDevice& peer) {
            Tunnel t;
            t.kind = peer.id == QLatin1String("den") ? Kind::reconnecting : Kind::checking;
            t.path = QStringLiteral("relay");
            t.at = noon.addSecs(-75);
            return t;
        };
        devices->refresh();
        shoot(*view, QStringLiteral("peers-offline-listed"));

        devices->askKick(old);
        QVERIFY(devices->kickAlert());
        shoot(*devices->kickAlert(), QStringLiteral("kick-alert"));
        devices->kickAlert()->close();

        devices->openKeySheet(lab);
        shoot(*devices->keySheet(), QStringLiteral("key-add-sheet"));
        devices->keySheet()->copyButton()->click();
        devices->keySheet()->findChild<QToolButton*>(QStringLiteral("revealCommand"))->click();
        shoot(*devices->keySheet(), QStringLiteral("key-add-sheet-copied"));
        devices->keySheet()->close();
        devices->openKeySheet(den);
        shoot(*devices->keySheet(), QStringLiteral("key-add-sheet-done"));
        devices->keySheet()->close();

        devices->openShortSheet();
        shoot(*devices->shortSheet(), QStringLiteral("short-command-sheet"));
        devices->shortSheet()->close();

        devices->openRenameSheet();
        RenameDeviceSheet* rename = devices->renameSheet();
        rename->aliasField()->setText(QStringLiteral("QX-Study Room"));
        rename->saveButton()->click();
        QTRY_VERIFY(!rename->error().isEmpty());
        shoot(*rename, QStringLiteral("rename-sheet-refused"));
        rename->close();
    }

    // The link to an open machine stopped answering: the card shows the break at once.
    void aLinkThatStoppedAnswering()
    {
        FakeClock clock(noon);
        LinkedPanelRig rig(data);
        PeerDevice den = LinkedPanelRig::peer(QStringLiteral("den"), QStringLiteral("书房 iMac"), true, true);
        den.remoteAccess = true;
        den.link = LinkStatus{.state = QStringLiteral("disconnected"), .trigger = QStringLiteral("对方没有回应")};
        QVERIFY(rig.start());
        QVERIFY(rig.publish({den}));
        auto view = page(rig.app(), false);
        view->devicesPage()->commands.tunnel = [&](const PeerDevice&) { return Tunnel::reconnecting(QStringLiteral("direct"), noon.addSecs(-6)); };
        view->devicesPage()->refresh();
        shoot(*view, QStringLiteral("peer-not-answering"));
    }

    void setupDone()
    {
        FakeClock clock(noon);
        LinkedPanelRig rig(data);
        PeerDevice den = LinkedPanelRig::peer(QStringLiteral("den"), QStringLiteral("书房 iMac"), true, true);
        QTcpServer sshd;
        QVERIFY(sshd.listen(QHostAddress::LocalHost));
        QVERIFY(rig.start());
        rig.app().link().sshdPort = sshd.serverPort();
        rig.allowKeys({den});
        Settings s = rig.app().settings();
        s.remoteAccess = true;
        rig.app().setSettings(s);
        QVERIFY(rig.publish({den}));
        auto view = page(rig.app(), true);
        QVERIFY(view->devicesPage()->setup()->showsSummary());
        shoot(*view, QStringLiteral("setup-done"));
    }
};

QTEST_MAIN(DevicesScreenshotTest)
#include "DevicesScreenshotTest.moc"
