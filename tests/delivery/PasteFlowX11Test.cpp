// The paste hot key end to end on a real X server: a key press from xdotool, the grab, the paste flow, and
// the typed text arriving in a real xterm.
#include "delivery/HotkeyCenter.h"
#include "delivery/PasteController.h"
#include "delivery/ReceiverClient.h"
#include "platform/x11/X11ActiveWindow.h"
#include "platform/x11/X11GlobalHotkeys.h"
#include "platform/x11/X11Keyboard.h"
#include "platform/x11/SystemClipboard.h"
#include "support/FakeFlash.h"
#include "support/ShotRig.h"
#include "support/TempDataDir.h"
#include "support/TestImages.h"
#include "support/TestXterm.h"

#include <QtTest>

class PasteFlowX11Test : public QObject {
    Q_OBJECT

    TempDataDir data;
    std::unique_ptr<ShotRig> rig;
    std::unique_ptr<X11GlobalHotkeys> hotkeys;
    std::unique_ptr<HotkeyCenter> center;
    X11ActiveWindow activeWindow;
    X11Keyboard keyboard;
    FakeFlash flash;
    std::unique_ptr<PasteController> paste;
    Settings settings;
    QList<Server> servers;
    Shot shot;
    QStringList copied;
    std::function<void(const QString&, const Server&, std::function<void(const Upload&)>)> onUpload;

    static void noUpload(const QString&, const Server&, std::function<void(const Upload&)>)
    {
        QFAIL("nothing to upload");
    }

    // Presses the hot key in the focused window (⌥⌘ perhaps still held from before) and waits for the paste.
    bool pressHotkey(bool modifiersHeld = false)
    {
        QSignalSpy finished(paste.get(), &PasteController::finished);
        if (!modifiersHeld)
            return xdotool({QStringLiteral("key"), QStringLiteral("alt+super+3")}) && finished.wait(10000);
        const bool pressed = xdotool({QStringLiteral("keydown"), QStringLiteral("alt+super")})
                             && xdotool({QStringLiteral("key"), QStringLiteral("3")});
        xdotool({QStringLiteral("keyup"), QStringLiteral("alt+super")});
        return pressed && finished.wait(10000);
    }

    QByteArray token(bool remote) const
    {
        const QString path = remote ? QStringLiteral("/home/deploy/tarnel 截图/shots/") + shot.name : shot.localPath;
        return QStringLiteral("shot1: %1 ").arg(path).toUtf8();
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!onX11WithTools({QStringLiteral("xterm"), QStringLiteral("xdotool")}))
            QSKIP("needs an X server (DISPLAY) with a window manager, xterm and xdotool");
        // A data folder with a blank and Chinese in its name: the local path must come through intact.
        rig = std::make_unique<ShotRig>(data.file(QStringLiteral("数据 目录")));
        shot = *rig->shots->shot(rig->take(TestImages::screenshot(640, 400, 1)).shotName);
        QVERIFY(shot.localPath.contains(QStringLiteral("数据 目录")));

        Server web;
        web.name = QStringLiteral("web-1");
        web.host = QStringLiteral("web-1.example");
        web.matchKeywords = {QStringLiteral("web-1")};
        web.setup.keyInstalled = true;
        web.setup.remoteDirAbsolute = QStringLiteral("/home/deploy/tarnel 截图");
        servers = {web};
        Upload done;
        done.state = Upload::State::done;
        rig->shots->setUpload(shot.name, web.id, done);
        settings.localTitlePatterns = {QStringLiteral("^me@laptop")};

        hotkeys = X11GlobalHotkeys::forApplication();
        QVERIFY(hotkeys);
        center = std::make_unique<HotkeyCenter>(*hotkeys);
        paste = std::make_unique<PasteController>(*rig->shots, activeWindow, keyboard, flash);
        paste->setWaits(PasteController::uploadWaitMs, 300);
        paste->settings = [this] { return settings; };
        paste->servers = [this] { return servers; };
        paste->remotePath = ReceiverClient::remotePath;
        onUpload = noUpload;
        paste->upload = [this](const QString& name, const Server& destination, std::function<void(const Upload&)> done) {
            onUpload(name, destination, std::move(done));
        };
        paste->copyText = [this](const QString& text) { copied << text; };
        center->onPaste = [this] { paste->hotkeyPressed(); };
        center->install();
        QVERIFY(center->registerHotkey(HotkeyCenter::Key::paste, *HotkeySpec::parse(QStringLiteral("⌥⌘3"))));
    }

    // The server named in the title decides the path; the user may still hold ⌥⌘ after the press.
    void typesThePathForTheWindow_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("modifiersHeld");
        QTest::addColumn<bool>("remote");
        QTest::newRow("local window") << QStringLiteral("me@laptop: ~") << false << false;
        QTest::newRow("modifiers still held") << QStringLiteral("deploy@web-1: ~/held") << true << true;
    }

    void typesThePathForTheWindow()
    {
        QFETCH(QString, title);
        QFETCH(bool, modifiersHeld);
        QFETCH(bool, remote);
        TestXterm terminal(title);
        QVERIFY(terminal.start());
        QVERIFY(pressHotkey(modifiersHeld));
        QCOMPARE(terminal.waitFor(token(remote).size()), token(remote));
        QVERIFY2(flash.shown.empty(), qPrintable(flash.lines().join(QLatin1Char('|'))));
    }

    // Clipboard mode into xterm, which binds no Ctrl+Shift+V: the path goes on the selections and the paste
    // key xterm has brings it in.
    void clipboardModePastesIntoXterm()
    {
        SystemClipboard clipboard;
        paste->copyText = [&clipboard](const QString& text) { clipboard.writeText(text); };
        settings.pasteMode = PasteMode::clipboard;
        TestXterm terminal(QStringLiteral("me@laptop: ~/pasted"));
        QVERIFY(terminal.start());
        QVERIFY(pressHotkey());
        QCOMPARE(terminal.waitFor(token(false).size()), token(false));
        settings.pasteMode = PasteMode::type;
        paste->copyText = [this](const QString& text) { copied << text; };
    }

    // The user goes to another terminal while the shot uploads: nothing is typed anywhere, the text is copied.
    void windowSwitchDuringTheUpload()
    {
        Server db = servers.first();
        db.id = QUuid::createUuid();
        db.name = QStringLiteral("db-2");
        db.matchKeywords = {QStringLiteral("db-2")};
        servers << db;
        TestXterm other(QStringLiteral("me@laptop: ~/other"));
        TestXterm terminal(QStringLiteral("root@db-2: /var/log"));
        QVERIFY(other.start());
        QVERIFY(terminal.start());
        onUpload = [&](const QString&, const Server& destination, std::function<void(const Upload&)> done) {
            QCOMPARE(destination.name, QStringLiteral("db-2"));
            QVERIFY(other.activate());
            Upload upload;
            upload.state = Upload::State::done;
            QTimer::singleShot(50, [done, upload] { done(upload); });
        };
        copied.clear();
        QVERIFY(pressHotkey());
        servers.removeLast();
        onUpload = noUpload;
        QCOMPARE(copied.size(), 1);
        QCOMPARE(copied.first().toUtf8(), token(true));
        QCOMPARE(flash.lines().value(0), QStringLiteral("窗口换了，路径已复制"));
        QTest::qWait(100);
        QVERIFY(terminal.received().isEmpty());
        QVERIFY(other.received().isEmpty());
        flash.shown.clear();
    }

};

QTEST_MAIN(PasteFlowX11Test)
#include "PasteFlowX11Test.moc"
