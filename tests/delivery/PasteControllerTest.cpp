#include "delivery/PasteController.h"
#include "delivery/ReceiverClient.h"
#include "support/FakeActiveWindow.h"
#include "support/FakeFlash.h"
#include "support/FakeKeyboard.h"
#include "support/ShotRig.h"
#include "support/TempDataDir.h"
#include "support/TestImages.h"

#include <QtTest>

Q_DECLARE_METATYPE(PasteMode)

namespace {
Server server(const QString& name, const QStringList& keywords, bool ready = true)
{
    Server s;
    s.name = name;
    s.host = name + QStringLiteral(".example");
    s.matchKeywords = keywords;
    s.setup.keyInstalled = ready;
    s.setup.remoteDirAbsolute = QStringLiteral("/home/u/") + name;
    return s;
}

Upload uploadIn(Upload::State state, const QString& error = {})
{
    Upload upload;
    upload.state = state;
    if (!error.isEmpty())
        upload.error = error;
    return upload;
}
}

class PasteControllerTest : public QObject {
    Q_OBJECT

    struct UploadRequest {
        QString shot;
        QUuid destination;
        std::function<void(const Upload&)> done;
    };

    TempDataDir data;
    std::unique_ptr<ShotRig> rig;
    FakeActiveWindow window;
    FakeKeyboard keyboard;
    FakeFlash flash;
    std::unique_ptr<PasteController> paste;
    Settings settings;
    QList<Server> servers;
    QStringList copied;
    QList<UploadRequest> uploads;
    int run = 0;

    Shot addShot()
    {
        // Far enough apart not to count as the same shot updated.
        const auto result = rig->take(TestImages::screenshot(320, 200, int(rig->shots->shots().size()) + 1), 200);
        return *rig->shots->shot(result.shotName);
    }

    // Presses the hot key and waits until the paste is over.
    void press()
    {
        QSignalSpy finished(paste.get(), &PasteController::finished);
        paste->hotkeyPressed();
        QVERIFY(finished.count() == 1 || finished.wait(3000));
    }

    QString remote(const Server& s, const Shot& shot) const { return *ReceiverClient::remotePath(s, shot.name); }

private Q_SLOTS:
    void init()
    {
        paste.reset();
        rig.reset();
        rig = std::make_unique<ShotRig>(data.file(QStringLiteral("run%1").arg(++run)), QDateTime(QDate(2026, 3, 4), QTime(10, 0, 0)));
        window.window = FakeActiveWindow::terminal(QStringLiteral("u@laptop: ~"));
        keyboard = FakeKeyboard();
        flash.shown.clear();
        settings = Settings{};
        servers.clear();
        copied.clear();
        uploads.clear();
        paste = std::make_unique<PasteController>(*rig->shots, window, keyboard, flash);
        paste->setWaits(300, 200);
        paste->settings = [this] { return settings; };
        paste->servers = [this] { return servers; };
        paste->remotePath = ReceiverClient::remotePath;
        paste->upload = [this](const QString& shot, const Server& destination, std::function<void(const Upload&)> done) {
            uploads.push_back({shot, destination.id, std::move(done)});
        };
        paste->copyText = [this](const QString& text) { copied << text; };
    }

    // One press on the newest shot, for a local destination: what goes where, and what the user is told.
    void onePress_data()
    {
        QTest::addColumn<QString>("front"); // terminal, browser or none
        QTest::addColumn<bool>("shot");
        QTest::addColumn<PasteMode>("mode");
        QTest::addColumn<int>("heldFor"); // polls the hot key stays down; -1: for ever
        QTest::addColumn<QString>("failWith");
        QTest::addColumn<bool>("types");
        QTest::addColumn<bool>("copies");
        QTest::addColumn<int>("pasteKeys");
        QTest::addColumn<QString>("flashed");
        QTest::addColumn<int>("pasted");
        const PasteMode type = PasteMode::type;
        const QString notTerminal = QStringLiteral("前台不是终端，没粘（在设置里加终端）");
        QTest::newRow("browser") << "browser" << true << type << 0 << "" << false << false << 0 << notTerminal << 0;
        QTest::newRow("no active window") << "none" << true << type << 0 << "" << false << false << 0 << notTerminal << 0;
        QTest::newRow("no shot yet") << "terminal" << false << type << 0 << "" << false << false << 0 << "还没有截图" << 0;
        QTest::newRow("typed") << "terminal" << true << type << 0 << "" << true << false << 0 << "" << 1;
        QTest::newRow("hot key let go late") << "terminal" << true << type << 3 << "" << true << false << 0 << "" << 1;
        QTest::newRow("keys held for ever") << "terminal" << true << type << -1 << "" << true << false << 0 << "" << 1;
        QTest::newRow("clipboard mode") << "terminal" << true << PasteMode::clipboard << 0 << "" << false << true << 1 << "" << 1;
        QTest::newRow("zero permission") << "terminal" << true << PasteMode::zeroPermission << -1 << "" << false << true << 0
                                         << "📋 已复制 截图1 的路径，自己粘贴" << 1;
        QTest::newRow("typing fails") << "terminal" << true << type << 0 << "连不上 X 服务器，没打字" << false << true << 0
                                      << "连不上 X 服务器，没打字，路径已复制" << 0;
    }
    void onePress()
    {
        QFETCH(QString, front);
        QFETCH(bool, shot);
        QFETCH(PasteMode, mode);
        QFETCH(int, heldFor);
        QFETCH(QString, flashed);
        QFETCH(int, pasted);
        const QString path = shot ? addShot().localPath : QString();
        if (front == u"browser")
            window.window = WindowInfo{7, QStringLiteral("Navigator"), QStringLiteral("firefox-esr"), QStringLiteral("web-1 - Firefox")};
        else if (front == u"none")
            window.window = std::nullopt;
        settings.pasteMode = mode;
        keyboard.heldFor = heldFor;
        QFETCH(QString, failWith);
        keyboard.failWith = failWith;
        QElapsedTimer timer;
        timer.start();
        press();
        const QStringList token{QStringLiteral("shot1: %1 ").arg(path)};
        QFETCH(bool, types);
        QFETCH(bool, copies);
        QCOMPARE(keyboard.typed, types ? token : QStringList());
        QCOMPARE(copied, copies ? token : QStringList());
        QTEST(keyboard.pasteKeys, "pasteKeys");
        QCOMPARE(flash.lines(), flashed.isEmpty() ? QStringList() : QStringList{flashed});
        if (shot)
            QCOMPARE(rig->shots->shots().last().pasted, pasted);
        QVERIFY(!paste->isRunning());
        // Keys still down are waited for, but not for ever; nothing is waited for when no key is sent.
        if (mode == PasteMode::zeroPermission)
            QCOMPARE(keyboard.heldQueries, 0);
        else if (heldFor > 0)
            QVERIFY(keyboard.heldQueries > heldFor);
        else if (heldFor < 0)
            QVERIFY(timer.elapsed() >= 180);
    }

    void recognisesTerminalsByEitherClassName_data()
    {
        QTest::addColumn<QString>("instanceName");
        QTest::addColumn<QString>("className");
        QTest::addColumn<bool>("terminal");
        QTest::newRow("gnome by instance") << QStringLiteral("gnome-terminal-server")
                                           << QStringLiteral("Gnome-terminal") << true;
        QTest::newRow("case differs") << QStringLiteral("ALACRITTY") << QStringLiteral("whatever") << true;
        QTest::newRow("wezterm by class") << QStringLiteral("wezterm-gui") << QStringLiteral("org.wezfurlong.wezterm")
                                          << true;
        QTest::newRow("a prefix is not enough") << QStringLiteral("xterm2") << QStringLiteral("St-like") << false;
        QTest::newRow("no class") << QString() << QString() << false;
    }

    void recognisesTerminalsByEitherClassName()
    {
        QFETCH(QString, instanceName);
        QFETCH(QString, className);
        QTEST(PasteController::isTerminal(instanceName, className, Settings::defaultTerminals()), "terminal");
    }

    // The selected shot is used once, then the newest; a selection whose shot is gone falls back to the newest.
    void typesTheSelectedShotThenTheNewest()
    {
        const Shot first = addShot();
        const Shot second = addShot();
        rig->shots->setSelected(first.name);
        press();
        QCOMPARE(keyboard.typed, QStringList{QStringLiteral("shot1: %1 ").arg(first.localPath)});
        QCOMPARE(rig->shots->shot(first.name)->pasted, 1);
        QVERIFY(!rig->shots->selected());
        rig->shots->setSelected(QStringLiteral("20260304-000000-9.png"));
        press();
        QCOMPARE(keyboard.typed.last(), QStringLiteral("shot2: %1 ").arg(second.localPath));
        QCOMPARE(rig->shots->shot(second.name)->pasted, 1);
        QVERIFY(flash.shown.empty());
        QVERIFY(data.logLines().last().endsWith(QStringLiteral("截图2 粘到 本机")));
    }

    void choosesTheDestination_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("patterns");
        QTest::addColumn<int>("defaultIndex"); // -1: none
        QTest::addColumn<QString>("expected"); // empty: local
        const QStringList none;
        QTest::newRow("longest keyword") << QStringLiteral("deploy@WEB-PROD-2: ~") << none << -1 << QStringLiteral("prod");
        QTest::newRow("keyword case-insensitive") << QStringLiteral("ssh Db1") << none << -1 << QStringLiteral("db");
        QTest::newRow("tie goes to list order") << QStringLiteral("shared-box") << none << -1 << QStringLiteral("web");
        QTest::newRow("keyword of a server not ready") << QStringLiteral("u@staging: ~") << none << -1
                                                        << QStringLiteral("web");
        QTest::newRow("keyword beats local pattern") << QStringLiteral("db1 on laptop") << QStringList{QStringLiteral("laptop")}
                                                     << -1 << QStringLiteral("db");
        QTest::newRow("local pattern") << QStringLiteral("me@laptop: ~/src")
                                       << QStringList{QStringLiteral("(unclosed"), QStringLiteral("^me@lap")} << 1
                                       << QString();
        QTest::newRow("bad pattern alone is skipped") << QStringLiteral("(unclosed") << QStringList{QStringLiteral("(unclosed")}
                                                      << -1 << QStringLiteral("web");
        QTest::newRow("default server") << QStringLiteral("nothing here") << none << 1 << QStringLiteral("db");
        QTest::newRow("default not ready: first ready") << QStringLiteral("nothing here") << none << 3
                                                        << QStringLiteral("web");
        QTest::newRow("first ready") << QStringLiteral("nothing here") << none << -1 << QStringLiteral("web");
    }

    void choosesTheDestination()
    {
        QFETCH(QString, title);
        QFETCH(QStringList, patterns);
        QFETCH(int, defaultIndex);
        QFETCH(QString, expected);
        QList<Server> list{server(QStringLiteral("web"), {QStringLiteral("web"), QStringLiteral("shared")}),
                           server(QStringLiteral("db"), {QStringLiteral("DB"), QString(), QStringLiteral("  ")}),
                           server(QStringLiteral("prod"), {QStringLiteral("web-prod"), QStringLiteral("shared")}),
                           server(QStringLiteral("staging"), {QStringLiteral("staging")}, false)};
        Server off = server(QStringLiteral("off"), {QStringLiteral("nothing")});
        off.enabled = false;
        list << off;
        Settings s;
        s.localTitlePatterns = patterns;
        if (defaultIndex >= 0)
            s.defaultServerID = list.at(defaultIndex).id;
        const auto destination = PasteController::destinationFor(title, list, s);
        QCOMPARE(destination ? destination->name : QString(), expected);
    }

    // A title naming a server that is off or not set up: that machine lacks the shot, so nothing is typed,
    // copied or pasted, whatever else is ready, and the flash says why.
    void refusesAPathTheTerminalsMachineLacks_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("keyInstalled");
        QTest::addColumn<bool>("otherReady");
        QTest::addColumn<QString>("flashed");
        QTest::newRow("only server, sync off") << false << true << false << "截图1 没传到 box，没粘：它的同步关着";
        QTest::newRow("sync off, another ready") << false << true << true << "截图1 没传到 box，没粘：它的同步关着";
        QTest::newRow("not set up") << true << false << false << "截图1 没传到 box，没粘：它还没连好";
    }

    void refusesAPathTheTerminalsMachineLacks()
    {
        QFETCH(bool, enabled);
        QFETCH(bool, keyInstalled);
        QFETCH(bool, otherReady);
        addShot();
        Server box = server(QStringLiteral("box"), {QStringLiteral("box"), QStringLiteral("u@")}, keyInstalled);
        box.enabled = enabled;
        servers << box;
        if (otherReady)
            servers << server(QStringLiteral("web"), {QStringLiteral("web")});
        window.window = FakeActiveWindow::terminal(QStringLiteral("u@box: ~"));
        for (const PasteMode mode : {PasteMode::type, PasteMode::clipboard, PasteMode::zeroPermission}) {
            settings.pasteMode = mode;
            flash.shown.clear();
            press();
            QTEST(flash.lines().join(QLatin1Char('|')), "flashed");
        }
        QCOMPARE(keyboard.typed, QStringList());
        QCOMPARE(keyboard.pasteKeys, 0);
        QCOMPARE(copied, QStringList());
        QVERIFY(uploads.isEmpty());
        QCOMPARE(rig->shots->shots().last().pasted, 0);
    }

    // xterm and its kin bind no Ctrl+Shift+V: they get Shift+Insert, the others Ctrl+Shift+V.
    void sendsTheTerminalsOwnPasteKey()
    {
        using Key = Keyboard::PasteKey;
        QCOMPARE(PasteController::pasteKeyFor(QStringLiteral("urxvt"), QStringLiteral("URxvt")), Key::shiftInsert);
        addShot();
        settings.pasteMode = PasteMode::clipboard;
        press();
        QCOMPARE(keyboard.lastPasteKey, Key::shiftInsert);
        window.window = WindowInfo{2, QStringLiteral("kitty"), QStringLiteral("kitty"), QStringLiteral("u@laptop")};
        press();
        QCOMPARE(keyboard.lastPasteKey, Key::controlShiftV);
        QCOMPARE(keyboard.pasteKeys, 2);
    }

    void noReadyServerMeansLocal()
    {
        QList<Server> list{server(QStringLiteral("web"), {QStringLiteral("web")}, false)};
        QVERIFY(!PasteController::destinationFor(QStringLiteral("web"), list, Settings{}));
        QVERIFY(!PasteController::destinationFor(QStringLiteral("web"), {}, Settings{}));
    }

    void substitutesTheTokenInOnePass_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("default") << Settings::defaultTokenFormat() << QStringLiteral("/a/b.png")
                                 << QStringLiteral("shot7: /a/b.png ");
        QTest::newRow("path holding markers") << QStringLiteral("%s #%d") << QStringLiteral("/x/%d/%s.png")
                                              << QStringLiteral("/x/%d/%s.png #7");
        QTest::newRow("repeated and lone percent") << QStringLiteral("100% %d%d %s%") << QStringLiteral("p")
                                                   << QStringLiteral("100% 77 p%");
        QTest::newRow("other letters stay") << QStringLiteral("%x %D %S") << QStringLiteral("p")
                                            << QStringLiteral("%x %D %S");
    }

    void substitutesTheTokenInOnePass()
    {
        QFETCH(QString, format);
        QFETCH(QString, path);
        QTEST(PasteController::token(format, 7, path), "expected");
    }

    // The shot goes to its server first; what the upload's answer, or its lack, leads to. A window switch
    // during the wait copies instead of typing into the other window.
    void uploadsFirst_data()
    {
        QTest::addColumn<QString>("answer"); // done, failed, none (outlives the wait), switched (done, other window)
        QTest::addColumn<bool>("types");
        QTest::addColumn<bool>("copies");
        QTest::addColumn<QString>("flashed");
        QTest::addColumn<int>("pasted");
        QTest::newRow("uploaded") << "done" << true << false << "" << 1;
        QTest::newRow("failed") << "failed" << false << false << "截图1 没传到 web，没粘：连接超时" << 0;
        QTest::newRow("outlives the wait") << "none" << true << false << "截图1 还在传…" << 1;
        QTest::newRow("window switched") << "switched" << false << true << "窗口换了，路径已复制" << 0;
    }
    void uploadsFirst()
    {
        QFETCH(QString, answer);
        const Shot shot = addShot();
        servers = {server(QStringLiteral("web"), {QStringLiteral("web")})};
        window.window = FakeActiveWindow::terminal(QStringLiteral("u@web: ~"));
        QSignalSpy finished(paste.get(), &PasteController::finished);
        QElapsedTimer timer;
        timer.start();
        paste->hotkeyPressed();
        QCOMPARE(uploads.size(), 1);
        QCOMPARE(uploads[0].shot, shot.name);
        QCOMPARE(uploads[0].destination, servers[0].id);
        QVERIFY(keyboard.typed.isEmpty());
        paste->hotkeyPressed(); // again while it waits: ignored
        QCOMPARE(uploads.size(), 1);
        if (answer == u"switched")
            window.window = WindowInfo{99, QStringLiteral("slack"), QStringLiteral("Slack"), QStringLiteral("chat")};
        if (answer == u"failed")
            uploads[0].done(uploadIn(Upload::State::failed, QStringLiteral("连接超时")));
        else if (answer != u"none")
            uploads[0].done(uploadIn(Upload::State::done));
        QVERIFY(finished.count() == 1 || finished.wait(3000));
        if (answer == u"none") {
            QVERIFY(timer.elapsed() >= 250);
            uploads[0].done(uploadIn(Upload::State::failed, QStringLiteral("x"))); // its late answer changes nothing
        }
        QFETCH(bool, types);
        QFETCH(bool, copies);
        QFETCH(QString, flashed);
        const QStringList token{QStringLiteral("shot1: %1 ").arg(remote(servers[0], shot))};
        QCOMPARE(keyboard.typed, types ? token : QStringList());
        QCOMPARE(copied, copies ? token : QStringList());
        QCOMPARE(keyboard.pasteKeys, 0);
        QCOMPARE(flash.lines(), flashed.isEmpty() ? QStringList() : QStringList{flashed});
        QTEST(rig->shots->shot(shot.name)->pasted, "pasted");
        QVERIFY(!paste->isRunning());
    }

    // Already uploaded: typed at once, as the remote path, or the local one while the server's folder is unknown.
    void alreadyUploadedTypesAtOnce()
    {
        const Shot shot = addShot();
        servers = {server(QStringLiteral("web"), {QStringLiteral("web")})};
        rig->shots->setUpload(shot.name, servers[0].id, uploadIn(Upload::State::done));
        window.window = FakeActiveWindow::terminal(QStringLiteral("u@web: ~"));
        press();
        QVERIFY(uploads.isEmpty());
        QCOMPARE(keyboard.typed, QStringList{QStringLiteral("shot1: %1 ").arg(remote(servers[0], shot))});
        servers[0].setup.remoteDirAbsolute.reset();
        press();
        QCOMPARE(keyboard.typed.last(), QStringLiteral("shot1: %1 ").arg(shot.localPath));
    }
};

QTEST_GUILESS_MAIN(PasteControllerTest)
#include "PasteControllerTest.moc"
