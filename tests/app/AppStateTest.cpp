#include "account/Account.h"
#include "account/AccountRecord.h"
#include "account/Diagnostics.h"
#include "account/QXServer.h"
#include "app/AppState.h"
#include "capture/ShotStore.h"
#include "delivery/HotkeyCenter.h"
#include "link/LinkManager.h"
#include "servers/ServerRegistry.h"
#include "state/Store.h"
#include "support/FakeClock.h"
#include "support/FakeDesktop.h"
#include "support/FakeLinkProgram.h"
#include "support/TempDataDir.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <X11/keysym.h>

using namespace std::chrono_literals;

class AppStateTest : public QObject {
    Q_OBJECT
    TempDataDir data;
    FakeDesktop desktop;
    FakeClipboard& clipboard = desktop.clipboard;
    FakeGlobalHotkeys& hotkeys = desktop.hotkeys;
    FakeFlash& flash = desktop.flash;
    FakeClock clock{QDateTime::currentDateTime()};
    static constexpr std::chrono::milliseconds pollMs{20};
    std::unique_ptr<Store> store;
    std::unique_ptr<AppState> app;

    QString log() const { return data.logLines().join(QLatin1Char('\n')); }

    static QImage picture(int seed)
    {
        QImage img(320, 200, QImage::Format_RGB32);
        img.fill(QColor::fromHsv(seed * 40 % 360, 200, 200));
        return img;
    }

private Q_SLOTS:
    void initTestCase()
    {
        AccountRecord{QStringLiteral("alice"), QStringLiteral("Alice"), QStringLiteral("token-1"), std::nullopt}.save();
        store = std::make_unique<Store>(data.path());
        app = std::make_unique<AppState>(*store, desktop.services(), AppState::Intervals{{pollMs, 0ms}});
        FakeLinkProgram(LinkManager::tokenPath().section('/', 0, -2))
            .script({{"status", QJsonObject{{"peers", QJsonArray{QJsonObject{{"id", "p1"}, {"online", true}}}}}}});
        app->link().programPath = [] { return std::optional<QString>(FakeLinkProgram::path()); };
        app->start();
    }

    void openGateCapturesAndRegistersHotkeys()
    {
        QVERIFY(app->account().isUsable());
        QVERIFY(app->captureOn());
        QCOMPARE(hotkeys.grabs.size(), 2);
        QVERIFY(log().contains(QStringLiteral("启动：0 台服务器，今天 0 张，粘贴方式 模拟打字")));

        clipboard.copyImage(picture(1));
        QTRY_COMPARE(app->shots().shots().size(), 1);
        QTRY_VERIFY(flash.lines().contains(QStringLiteral("截图1 已存本机（没有开着的服务器）")));
        QVERIFY(log().contains(QStringLiteral("截图1 已存（320×200，PNG，")));

        // An image that cannot be read is not dropped without a word.
        clipboard.copyUnreadableImage(QStringLiteral("剪贴板里的图片读不出来"));
        QTRY_VERIFY(flash.lines().contains(QStringLiteral("剪贴板里的图片读不出来")));
        QVERIFY(log().contains(QStringLiteral("截图：剪贴板里的图片读不出来")));
    }

    void hotkeyChangesReRegisterOnlyWhileCapturing()
    {
        Settings s = app->settings();
        s.hotkeyPaste = QStringLiteral("⌃⌥5");
        app->setSettings(s);
        QCOMPARE(store->loadSettings().hotkeyPaste, QStringLiteral("⌃⌥5"));
        QVERIFY(log().contains(QStringLiteral("快捷键改为 粘贴 Ctrl+Alt+5 / 面板 Alt+Super+4")));
        const auto paste = hotkeys.grabs.value(int(HotkeyCenter::Key::paste));
        QCOMPARE(paste.keysym, quint32(XK_5));
        QCOMPARE(paste.modifiers, GlobalHotkeys::Modifiers(GlobalHotkeys::Control | GlobalHotkeys::Alt));

        // A text that does not parse falls back to the default combination.
        s.hotkeyPaste = QStringLiteral("⇧Q");
        app->setSettings(s);
        QCOMPARE(hotkeys.grabs.value(int(HotkeyCenter::Key::paste)).keysym, quint32(XK_3));
    }

    void copyPathIsNotTakenForAScreenshot()
    {
        const int before = int(app->shots().shots().size());
        app->copyPath(QStringLiteral("/tmp/x.png"), QStringLiteral("截图1"));
        clipboard.copyImage(picture(2)); // inside the 0.6 s window
        QTest::qWait(pollMs.count() * 5);
        QCOMPARE(int(app->shots().shots().size()), before);
    }

    void environmentSummaryTexts()
    {
        const auto summary = app->environmentSummary();
        QVERIFY(summary.value(QStringLiteral("servers")).startsWith(QStringLiteral("0 台服务器（0 台已连）· 今天 ")));
        QCOMPARE(summary.value(QStringLiteral("paste")), QStringLiteral("粘贴方式：模拟打字"));
        QVERIFY(summary.value(QStringLiteral("memory")).endsWith(QStringLiteral(" GB")));
    }

    void linkFollowsTheGateAndTheSwitch()
    {
        LinkManager& link = app->link();
        QTRY_VERIFY(link.helper().kind == LinkManager::Helper::Kind::running && link.status());
        QCOMPARE(readFile(LinkManager::tokenPath()), QByteArray("token-1"));
        QCOMPARE(app->environmentSummary().value("devices"), QStringLiteral("设备互联：1 台其他设备（1 在线）"));

        FakeLinkProgram program(LinkManager::tokenPath().section('/', 0, -2));
        Settings s = app->settings();
        s.remoteAccess = true;
        app->setSettings(s);
        QTRY_VERIFY(program.commandNames().contains("allow"));
        QVERIFY(app->environmentSummary().value("devices").endsWith(QStringLiteral("，这台允许被连接")));
        QVERIFY(desktop.sleepInhibitor.held);
    }

    void departedDevicesArePrunedOnlyWhenTheSiteIsOk()
    {
        LinkManager& link = app->link();
        FakeLinkProgram program(LinkManager::tokenPath().section('/', 0, -2));
        for (const char* id : {"p1", "p9"})
            QVERIFY(app->registry().addDevice({id, QStringLiteral("Mac %1").arg(id), QStringLiteral("qx-%1").arg(id), "lee"}).ok());
        const auto devices = [&] {
            QStringList ids;
            for (const Server& s : app->registry().servers())
                ids << s.deviceID.value_or(QString());
            return ids;
        };
        const QJsonArray onlyP1{QJsonObject{{"id", "p1"}, {"online", true}}};
        const QList<std::pair<QJsonObject, bool>> documents{
            {QJsonObject{{"site", QJsonObject{{"ok", false}}}, {"peers", onlyP1}}, false},
            {QJsonObject{{"peers", onlyP1}}, false},
            {QJsonObject{{"site", QJsonObject{{"ok", true}}}, {"peers", QJsonArray()}}, false},
            {QJsonObject{{"site", QJsonObject{{"ok", true}}}, {"peers", onlyP1}}, true},
        };
        for (const auto& [document, pruned] : documents) {
            program.script({{"status", document}});
            QTRY_VERIFY(link.status() && !link.pollInFlight());
            QSignalSpy applied(&link, &LinkManager::statusApplied);
            link.poll();
            QTRY_VERIFY_WITH_TIMEOUT(!applied.isEmpty(), 20000);
            QCOMPARE(devices().contains("p9"), !pruned);
            QVERIFY(devices().contains("p1"));
        }
        QVERIFY(log().contains(QStringLiteral("设备互联：「Mac p9」已不在账号里，移除它的截图接收端记录")));
    }

    void diagnosticsFollowTheChannelAndTheGate()
    {
        Diagnostics& diagnostics = app->diagnostics();
        QVERIFY(!diagnostics.running());
        Settings s = app->settings();
        s.updateChannelTest = true;
        app->setSettings(s);
        QCOMPARE(diagnostics.pendingReason(), QStringLiteral("启动"));
        app->applyAccountGate();
        QCOMPARE(diagnostics.pendingReason(), QStringLiteral("开启测试版"));
        s.updateChannelTest = false;
        app->setSettings(s);
        QVERIFY(!diagnostics.running() && !diagnostics.pendingReason());
        s.updateChannelTest = true;
        app->setSettings(s);
        QVERIFY(diagnostics.running()); // signing out below must stop it again

        // A check-in that changes neither the state nor the sign-in leaves the gate alone: the first report
        // keeps its time instead of being pushed back (and sent) after every check-in.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QUrl nowhere(QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort()));
        closed.close();
        QXServer::useURLs(nowhere, nowhere);
        QSignalSpy accountChanged(&app->account(), &Account::changed);
        app->account().ping(false);
        QTRY_VERIFY(!accountChanged.isEmpty());
        QCoreApplication::processEvents();
        QVERIFY(app->account().isUsable());
        QCOMPARE(diagnostics.pendingReason(), QStringLiteral("启动"));
    }

    void clearAllKeepsNumbering()
    {
        QTRY_VERIFY(!app->watcher().ignoresChangesNow()); // after an earlier copy of a path
        clock.advance(2); // past the one-second gap between shots
        clipboard.copyImage(picture(3));
        QTRY_VERIFY(!app->shots().shots().isEmpty());
        const qint64 last = app->shots().shots().last().n;
        app->clearAll();
        QVERIFY(app->shots().shots().isEmpty());
        QVERIFY(log().contains(QStringLiteral("清空：删了")));
        clock.advance(2);
        clipboard.copyImage(picture(4));
        QTRY_COMPARE(app->shots().shots().size(), 1);
        QCOMPARE(app->shots().shots().first().n, last + 1);
    }

    void signOutClosesTheGate()
    {
        app->account().signOut();
        QTRY_VERIFY(!app->captureOn());
        QVERIFY(hotkeys.grabs.isEmpty());
        QVERIFY(log().contains(QStringLiteral("账号门关闭：还没登录 tarnel 账号")));
        QCOMPARE(app->link().helper().label(), QStringLiteral("设备互联未启动"));
        QVERIFY(!QFileInfo::exists(LinkManager::tokenPath()));
        QVERIFY(!desktop.sleepInhibitor.held);
        QVERIFY(log().contains(QStringLiteral("设备互联：停止（还没登录 tarnel 账号）")));
        QVERIFY(!app->diagnostics().running());
        app->capture(picture(6), QStringLiteral("测试"));
        QVERIFY(log().contains(QStringLiteral("截图：还没登录，跳过（测试）")));

        // While the gate is closed a hot-key change is only logged.
        Settings s = app->settings();
        s.hotkeyPanel = QStringLiteral("⌥⌘7");
        app->setSettings(s);
        QVERIFY(hotkeys.grabs.isEmpty());
    }
};

QTEST_MAIN(AppStateTest)
#include "AppStateTest.moc"
