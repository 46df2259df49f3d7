#include "delivery/PasteController.h"
#include "support/FakeActiveWindow.h"
#include "support/FakeFlash.h"
#include "support/FakeKeyboard.h"
#include "support/ShotRig.h"
#include "support/TempDataDir.h"
#include "support/TestImages.h"

#include <QtTest>

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

    QString remote(const Server& s, const Shot& shot) const
    {
        return *s.setup.remoteDirAbsolute + QStringLiteral("/shots/") + shot.name;
    }

private Q_SLOTS:
    void init()
    {
        paste.reset();
        rig.reset();
        rig = std::make_unique<ShotRig>(data.file(QStringLiteral("run%1").arg(++run)), QDateTime(QDate(2026, 3, 4), QTime(10, 0, 0)));
        window.window = FakeActiveWindow::terminal(QStringLiteral("u@laptop: ~"));
        window.onQuery = nullptr;
        window.queries = 0;
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
        paste->remotePath = [](const Server& s, const QString& name) -> std::optional<QString> {
            if (!s.setup.remoteDirAbsolute)
                return std::nullopt;
            return *s.setup.remoteDirAbsolute + QStringLiteral("/shots/") + name;
        };
        paste->upload = [this](const QString& shot, const Server& destination, std::function<void(const Upload&)> done) {
            uploads.push_back({shot, destination.id, std::move(done)});
        };
        paste->copyText = [this](const QString& text) { copied << text; };
    }

    void notATerminalTypesNothing_data()
    {
        QTest::addColumn<bool>("anyWindow");
        QTest::newRow("browser") << true;
        QTest::newRow("no active window") << false;
    }

    void notATerminalTypesNothing()
    {
        QFETCH(bool, anyWindow);
        addShot();
        window.window = anyWindow ? std::optional<WindowInfo>(WindowInfo{7, QStringLiteral("Navigator"),
                                                                         QStringLiteral("firefox-esr"),
                                                                         QStringLiteral("web-1 - Firefox")})
                                  : std::nullopt;
        press();
        QVERIFY(keyboard.typed.isEmpty());
        QVERIFY(copied.isEmpty());
        QCOMPARE(flash.lines(), QStringList{QStringLiteral("前台不是终端，没粘（在设置里加终端）")});
        QCOMPARE(rig->shots->shots().last().pasted, 0);
    }

    void recognisesTerminalsByEitherClassName_data()
    {
        QTest::addColumn<QString>("instanceName");
        QTest::addColumn<QString>("className");
        QTest::addColumn<bool>("terminal");
        QTest::newRow("xterm") << QStringLiteral("xterm") << QStringLiteral("XTerm") << true;
        QTest::newRow("gnome by instance") << QStringLiteral("gnome-terminal-server")
                                           << QStringLiteral("Gnome-terminal") << true;
        QTest::newRow("case differs") << QStringLiteral("ALACRITTY") << QStringLiteral("whatever") << true;
        QTest::newRow("wezterm by class") << QStringLiteral("wezterm-gui") << QStringLiteral("org.wezfurlong.wezterm")
                                          << true;
        QTest::newRow("a prefix is not enough") << QStringLiteral("xterm2") << QStringLiteral("St-like") << false;
        QTest::newRow("editor") << QStringLiteral("code") << QStringLiteral("Code") << false;
        QTest::newRow("no class") << QString() << QString() << false;
    }

    void recognisesTerminalsByEitherClassName()
    {
        QFETCH(QString, instanceName);
        QFETCH(QString, className);
        QTEST(PasteController::isTerminal(instanceName, className, Settings::defaultTerminals()), "terminal");
    }

    void noShotYet()
    {
        press();
        QCOMPARE(flash.lines(), QStringList{QStringLiteral("还没有截图")});
        QVERIFY(keyboard.typed.isEmpty());
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
        QTest::newRow("local pattern is a regex") << QStringLiteral("zsh 42") << QStringList{QStringLiteral("zsh \\d+$")}
                                                  << -1 << QString();
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

    void uploadsFirstThenTypesTheRemotePath()
    {
        const Shot shot = addShot();
        servers = {server(QStringLiteral("web"), {QStringLiteral("web")})};
        window.window = FakeActiveWindow::terminal(QStringLiteral("u@web: ~"));
        QSignalSpy finished(paste.get(), &PasteController::finished);
        paste->hotkeyPressed();
        QCOMPARE(uploads.size(), 1);
        QCOMPARE(uploads[0].shot, shot.name);
        QCOMPARE(uploads[0].destination, servers[0].id);
        QVERIFY(keyboard.typed.isEmpty());
        paste->hotkeyPressed(); // again while it waits: ignored
        QCOMPARE(uploads.size(), 1);
        uploads[0].done(uploadIn(Upload::State::done));
        QVERIFY(finished.count() == 1 || finished.wait(1000));
        QCOMPARE(keyboard.typed, QStringList{QStringLiteral("shot1: %1 ").arg(remote(servers[0], shot))});
        QVERIFY(flash.shown.empty());
        QCOMPARE(rig->shots->shot(shot.name)->pasted, 1);
        QVERIFY(data.logLines().last().endsWith(QStringLiteral("截图1 粘到 web")));
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

    void failedUploadStops()
    {
        addShot();
        servers = {server(QStringLiteral("web"), {QStringLiteral("web")})};
        QSignalSpy finished(paste.get(), &PasteController::finished);
        paste->hotkeyPressed();
        uploads[0].done(uploadIn(Upload::State::failed, QStringLiteral("连接超时")));
        QCOMPARE(finished.count(), 1);
        QVERIFY(keyboard.typed.isEmpty());
        QCOMPARE(flash.lines(), QStringList{QStringLiteral("截图1 没传到 web，没粘：连接超时")});
        QCOMPARE(rig->shots->shots().last().pasted, 0);
        QVERIFY(!paste->isRunning());
    }

    // The upload outlives the wait: the path goes in anyway (the file follows), and the user is told.
    void slowUploadTypesAfterTheWait()
    {
        const Shot shot = addShot();
        servers = {server(QStringLiteral("web"), {QStringLiteral("web")})};
        QElapsedTimer timer;
        timer.start();
        press();
        QVERIFY(timer.elapsed() >= 250);
        QCOMPARE(keyboard.typed, QStringList{QStringLiteral("shot1: %1 ").arg(remote(servers[0], shot))});
        QCOMPARE(flash.lines(), QStringList{QStringLiteral("截图1 还在传…")});
        // Its late answer changes nothing.
        uploads[0].done(uploadIn(Upload::State::failed, QStringLiteral("x")));
        QCOMPARE(keyboard.typed.size(), 1);
        QCOMPARE(flash.shown.size(), size_t(1));
    }

    // The user moved to another window while the upload ran: copy, never type into it.
    void windowSwitchDuringTheWaitCopiesInstead()
    {
        const Shot shot = addShot();
        servers = {server(QStringLiteral("web"), {QStringLiteral("web")})};
        QSignalSpy finished(paste.get(), &PasteController::finished);
        paste->hotkeyPressed();
        window.window = WindowInfo{99, QStringLiteral("slack"), QStringLiteral("Slack"), QStringLiteral("chat")};
        uploads[0].done(uploadIn(Upload::State::done));
        QVERIFY(finished.count() == 1 || finished.wait(1000));
        QVERIFY(keyboard.typed.isEmpty());
        QCOMPARE(keyboard.pasteKeys, 0);
        QCOMPARE(copied, QStringList{QStringLiteral("shot1: %1 ").arg(remote(servers[0], shot))});
        QCOMPARE(flash.lines(), QStringList{QStringLiteral("窗口换了，路径已复制")});
        QCOMPARE(rig->shots->shot(shot.name)->pasted, 0);
    }

    void waitsForTheHotKeyToBeLetGo()
    {
        addShot();
        keyboard.heldFor = 3;
        press();
        QCOMPARE(keyboard.typed.size(), 1);
        QVERIFY(keyboard.heldQueries >= 4);
    }

    // Keys that stay down do not block the paste for ever; the typer lets them go.
    void keysHeldForeverStillEndTheWait()
    {
        addShot();
        keyboard.heldFor = -1;
        QElapsedTimer timer;
        timer.start();
        press();
        QVERIFY(timer.elapsed() >= 180);
        QCOMPARE(keyboard.typed.size(), 1);
    }

    void clipboardModeCopiesAndSendsThePasteKey()
    {
        const Shot shot = addShot();
        settings.pasteMode = PasteMode::clipboard;
        press();
        QCOMPARE(copied, QStringList{QStringLiteral("shot1: %1 ").arg(shot.localPath)});
        QCOMPARE(keyboard.pasteKeys, 1);
        QVERIFY(keyboard.typed.isEmpty());
        QCOMPARE(rig->shots->shot(shot.name)->pasted, 1);
    }

    void zeroPermissionOnlyCopies()
    {
        const Shot shot = addShot();
        settings.pasteMode = PasteMode::zeroPermission;
        settings.tokenFormat = QStringLiteral("[%d] %s");
        keyboard.heldFor = -1; // no keys are sent, so no waiting for them
        press();
        QCOMPARE(copied, QStringList{QStringLiteral("[1] %1").arg(shot.localPath)});
        QCOMPARE(keyboard.pasteKeys, 0);
        QVERIFY(keyboard.typed.isEmpty());
        QCOMPARE(keyboard.heldQueries, 0);
        QCOMPARE(flash.lines(), QStringList{QStringLiteral("📋 已复制 截图1 的路径，自己粘贴")});
        QCOMPARE(rig->shots->shot(shot.name)->pasted, 1);
    }

    void failedTypingCopiesAndSaysWhy()
    {
        const Shot shot = addShot();
        keyboard.failWith = QStringLiteral("连不上 X 服务器，没打字");
        press();
        QCOMPARE(copied, QStringList{QStringLiteral("shot1: %1 ").arg(shot.localPath)});
        QCOMPARE(flash.lines(), QStringList{QStringLiteral("连不上 X 服务器，没打字，路径已复制")});
        QCOMPARE(rig->shots->shot(shot.name)->pasted, 0);
        QVERIFY(!paste->isRunning());
        // The next press works again.
        keyboard.failWith.clear();
        press();
        QCOMPARE(keyboard.typed.size(), 1);
    }
};

QTEST_GUILESS_MAIN(PasteControllerTest)
#include "PasteControllerTest.moc"
