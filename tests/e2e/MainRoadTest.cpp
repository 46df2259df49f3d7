// The main road on real parts: the real tarnel, run as a local desktop user on Xvfb with jwm, keeps its
// sign-in fresh against a real tarnel-accountd, connects a real sshd through the user's own ssh setup,
// sends a copied image there, types its path into a real xterm with the hot key, stops both as soon as a
// check-in learns that an administrator disabled the account, and starts them again without the picture
// copied meanwhile once the account is enabled.
#include "account/AccountRecord.h"
#include "state/AtomicFile.h"
#include "state/Store.h"
#include "support/AccountServiceFixture.h"
#include "support/DesktopUser.h"
#include "support/FakeLogind.h"
#include "support/SshServerFixture.h"
#include "support/TempDataDir.h"
#include "support/TestImages.h"
#include "support/TestXterm.h"

#include <QDir>
#include <QImage>
#include <QJsonDocument>
#include <QTest>
#include <memory>
#include <unistd.h>

namespace {
const QString serverAlias = QStringLiteral("e2e-box");
const QString password = QStringLiteral("e2e-pass-4417");

bool samePixels(const QImage& a, const QImage& b)
{
    return !a.isNull() && a.convertToFormat(QImage::Format_RGB32) == b.convertToFormat(QImage::Format_RGB32);
}
} // namespace

class MainRoadTest : public QObject {
    Q_OBJECT

    TempDataDir own; // this process's log
    AccountServiceFixture service;
    SshServerFixture sshd;
    FakeLogind logind;
    std::optional<SshServerFixture::Account> target;
    std::optional<DesktopUser> desk;
    QString username = QStringLiteral("e2e-road");
    QString data;
    QString program; // tarnel as the desktop user reaches it
    QString artefacts = QStringLiteral(TARNEL_BINARY_DIR "/artefacts/e2e");
    QProcess tarnel;
    std::vector<std::unique_ptr<QProcess>> clipboardOwners;
    std::unique_ptr<TestXterm> xterm;
    QString firstShotRemotePath;
    QByteArray typedByFirstPress;

    QString log() const { return QString::fromUtf8(readFile(data + QStringLiteral("/logs/tarnel.log"))); }
    QString shotsOnServer() const { return target->home + QStringLiteral("/tarnel/shots"); }
    QStringList filesOnServer() const { return QDir(shotsOnServer()).entryList(QDir::Files); }

    // Runs a process as the desktop user, in a desktop session of its own.
    void asDesk(QProcess& process) const
    {
        QProcessEnvironment env;
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), logind.address());
        env.insert(QStringLiteral("TARNEL_DATA"), data);
        env.insert(QStringLiteral("TARNEL_SERVICE_URL"), service.url().toString());
        env.insert(QStringLiteral("TARNEL_LEGACY_SERVICE_URL"), service.url().toString());
        desk->enterSession(process, env);
    }

    bool deskWrites(const QString& path, const QByteArray& bytes, int mode)
    {
        return sshd.writeFile(desk->account(), path, bytes, mode);
    }

    // Puts a PNG on the clipboard the way a screenshot tool does, and keeps it there.
    bool copyPicture(const QImage& image, const QString& name)
    {
        const QString file = own.file(name);
        if (!image.save(file, "PNG"))
            return false;
        auto owner = std::make_unique<QProcess>();
        owner->start(QStringLiteral("xclip"), {QStringLiteral("-quiet"), QStringLiteral("-selection"),
                                               QStringLiteral("clipboard"), QStringLiteral("-t"),
                                               QStringLiteral("image/png"), QStringLiteral("-i"), file});
        const bool started = owner->waitForStarted(5000);
        clipboardOwners.push_back(std::move(owner));
        return started;
    }

    bool pressPasteHotkey() { return xdotool({QStringLiteral("key"), QStringLiteral("alt+super+3")}); }

    // Where tarnel's windows are on screen (the tray icon, the flash notice, any open window).
    QList<QRect> visibleWindows() const
    {
        QList<QRect> found;
        const QString ids = xdotoolOutput({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                           QStringLiteral("--pid"), QString::number(tarnel.processId())});
        for (const QString& id : ids.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            QMap<QString, int> values;
            for (const QString& line : xdotoolOutput({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id}).split(QLatin1Char('\n')))
                values.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1).toInt());
            found << QRect(values.value(QStringLiteral("X")), values.value(QStringLiteral("Y")),
                           values.value(QStringLiteral("WIDTH")), values.value(QStringLiteral("HEIGHT")));
        }
        return found;
    }

    static QSize screenSize()
    {
        const QStringList words = xdotoolOutput({QStringLiteral("getdisplaygeometry")}).split(QLatin1Char(' '));
        return QSize(words.value(0).toInt(), words.value(1).toInt());
    }

    // The flash notice sits at the top right of the screen.
    bool flashVisible() const
    {
        const QSize screen = screenSize();
        for (const QRect& window : visibleWindows())
            if (window.right() > screen.width() - 100 && window.top() < 100 && window.width() > 100)
                return true;
        return false;
    }

    // The tray icon is a small window docked in the window manager's tray at the bottom.
    bool trayIconDocked() const
    {
        const QSize screen = screenSize();
        for (const QRect& window : visibleWindows())
            if (window.width() <= 64 && window.height() <= 64 && window.top() > screen.height() - 100)
                return true;
        return false;
    }

    void screenshot(const QString& name) const { saveScreen(artefacts + QLatin1Char('/') + name); }

private Q_SLOTS:
    void initTestCase()
    {
        if (!SshServerFixture::canCreateAccounts())
            QSKIP("needs local users of its own (run as root)");
        if (!haveX11Tools({QStringLiteral("xterm"), QStringLiteral("xdotool"), QStringLiteral("xclip"),
                           QStringLiteral("import"), QStringLiteral("xdpyinfo")}))
            QSKIP("needs an X server (DISPLAY) with a window manager, and xterm, xdotool, xclip, import, xdpyinfo");
        if (!FakeLogind::available())
            QSKIP("needs dbus-daemon for the wake notice");
        QVERIFY2(QFile::exists(QStringLiteral(TARNEL_BINARY_DIR "/bin/tarnel")), "tarnel is not built");

        // The account service, with a user made through an invitation of its admin command line.
        QVERIFY2(service.start(), qPrintable(service.error()));
        QVERIFY(!service.signUp(username, password, QStringLiteral("路测")).isEmpty());
        const auto login = service.post(QStringLiteral("api/login"),
                                        QJsonObject{{QStringLiteral("username"), username},
                                                    {QStringLiteral("password"), password},
                                                    {QStringLiteral("client"), QStringLiteral("app")}});
        const QString token = login.json().value(QStringLiteral("token")).toString();
        QVERIFY2(!token.isEmpty(), login.body.constData());

        const QString busProblem = logind.start();
        QVERIFY2(busProblem.isEmpty(), qPrintable(busProblem));

        // The server account, reached by the desktop user's own key through an alias of their ssh config.
        sshd.acceptHomeKeys();
        target = sshd.account(QStringLiteral("tarnel-e2esrv"));
        QVERIFY(target);
        desk = DesktopUser::create(sshd, QStringLiteral("tarnel-e2edesk"));
        QVERIFY(desk);
        QVERIFY(sshd.authorize(*target, desk->publicLine() + QLatin1Char('\n')));
        QVERIFY(!sshd.start());
        const QString home = desk->account().home;
        QVERIFY(desk->writeSshConfig(QStringLiteral("Host %1\n  HostName 127.0.0.1\n  Port %2\n  User %3\n")
                                         .arg(serverAlias).arg(sshd.port()).arg(target->name)));
        QVERIFY(deskWrites(home + QStringLiteral("/.ssh/known_hosts"), (sshd.knownHostsLine() + QLatin1Char('\n')).toUtf8(), 0644));

        // The desktop session: allowed on the display, with a runtime folder of its own.
        QVERIFY(sshd.makeDirectory(desk->account(), home + QStringLiteral("/run")));
        const QString authority = qEnvironmentVariable("XAUTHORITY");
        if (!authority.isEmpty() && QFile::exists(authority))
            QVERIFY(deskWrites(home + QStringLiteral("/.Xauthority"), readFile(authority), 0600));
        QProcess probe;
        asDesk(probe);
        probe.start(QStringLiteral("xdpyinfo"), {});
        if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
            QSKIP("the X server does not let another local user in (start Xvfb with -ac, or give an XAUTHORITY)");

        // The programs where the desktop user can reach them: the build may lie under a folder it cannot
        // enter (a private temporary checkout).
        const QString bin = home + QStringLiteral("/bundle/bin");
        QVERIFY(QDir().mkpath(bin));
        for (const QString& name : {QStringLiteral("tarnel"), QStringLiteral("tarnel-net")}) {
            const QString built = QStringLiteral(TARNEL_BINARY_DIR "/bin/") + name;
            if (QFile::exists(built))
                QVERIFY2(QFile::copy(built, bin + QLatin1Char('/') + name), qPrintable(name));
        }
        QVERIFY(desk->own(home + QStringLiteral("/bundle")));
        program = bin + QStringLiteral("/tarnel");

        // The data directory: the server as the user added it, the saved sign-in, onboarding behind them.
        data = home + QStringLiteral("/tarnel-data");
        QVERIFY(sshd.makeDirectory(desk->account(), data));
        {
            const Store store(data);
            Settings settings;
            settings.onboardingDone = true;
            store.saveSettings(settings);
            StateFile state;
            Server server;
            server.name = serverAlias;
            server.host = serverAlias;
            state.servers << server;
            store.saveState(state);
        }
        const AccountRecord record{username, QStringLiteral("路测"), token, std::nullopt};
        QVERIFY(AtomicFile::write(data + QStringLiteral("/account.json"),
                                   QJsonDocument(record.encode()).toJson(QJsonDocument::Compact), 0600).ok());
        QVERIFY(desk->own(data));
    }

    void cleanupTestCase()
    {
        if (tarnel.state() != QProcess::NotRunning) {
            tarnel.terminate();
            if (!tarnel.waitForFinished(5000)) {
                tarnel.kill();
                tarnel.waitForFinished(5000);
            }
        }
        for (auto& owner : clipboardOwners)
            if (owner->state() != QProcess::NotRunning) {
                owner->kill();
                owner->waitForFinished(3000);
            }
        xterm.reset();
        // ssh's connection masters outlive tarnel (ControlPersist): they belong to the test's own user.
        if (desk)
            QVERIFY(desk->stopEverything());
        if (!data.isEmpty() && QFile::exists(data + QStringLiteral("/logs/tarnel.log"))) {
            QDir().mkpath(artefacts);
            QFile::remove(artefacts + QStringLiteral("/tarnel.log"));
            QFile::copy(data + QStringLiteral("/logs/tarnel.log"), artefacts + QStringLiteral("/tarnel.log"));
        }
        sshd.stop();
    }

    void startsChecksInAndConnectsTheServer()
    {
        asDesk(tarnel);
        tarnel.setProcessChannelMode(QProcess::ForwardedChannels);
        tarnel.start(program, {});
        QVERIFY(tarnel.waitForStarted(10000));

        // Probe, install and ping at start: the receiver is installed with tarnel's own key.
        QTRY_VERIFY2_WITH_TIMEOUT(log().contains(QStringLiteral("已连接 ") + serverAlias) || tarnel.state() != QProcess::Running,
                                  qPrintable(log()), 30000);
        QVERIFY2(tarnel.state() == QProcess::Running, qPrintable(QStringLiteral("tarnel ended (status %1, %2): ")
                                                                     .arg(tarnel.exitCode()).arg(int(tarnel.exitStatus())) + log()));
        QVERIFY2(log().contains(QStringLiteral("已连接 ") + serverAlias), qPrintable(log()));
        // The state is written a moment after the log line.
        QTRY_VERIFY_WITH_TIMEOUT(Store(data).loadState().servers.value(0).setup.keyInstalled, 5000);
        const StateFile state = Store(data).loadState();
        QCOMPARE(state.servers.size(), 1);
        const Server server = state.servers.first();
        QCOMPARE(server.host, QStringLiteral("127.0.0.1"));
        QCOMPARE(server.port, int(sshd.port()));
        QCOMPARE(server.user.value_or(QString()), target->name);
        QCOMPARE(server.setup.remoteDirAbsolute.value_or(QString()), target->home + QStringLiteral("/tarnel"));
        QVERIFY(log().contains(QStringLiteral("账号门打开：开始监听截图")));

        // The first check-in, a few seconds after start, reaches the service.
        QTRY_VERIFY_WITH_TIMEOUT(service.admin({QStringLiteral("checkins"), QStringLiteral("list")}).out.contains(username), 15000);
    }

    void copiedImageArrivesOnTheServer()
    {
        QVERIFY(tarnel.state() == QProcess::Running);
        const QImage picture = TestImages::noise(96, 64, 1);
        QVERIFY(copyPicture(picture, QStringLiteral("first.png")));
        QTRY_VERIFY2_WITH_TIMEOUT(filesOnServer().size() == 1, qPrintable(log()), 15000);
        const QString path = shotsOnServer() + QLatin1Char('/') + filesOnServer().first();
        // The receiver may still be writing: the pixels settle once the file is whole.
        QTRY_VERIFY_WITH_TIMEOUT(samePixels(QImage(path), picture), 5000);
        firstShotRemotePath = path;

        QTRY_VERIFY_WITH_TIMEOUT(flashVisible(), 5000);
        QVERIFY(trayIconDocked());
        screenshot(QStringLiteral("tray-and-flash.png"));
    }

    void hotkeyTypesTheRemotePathIntoTheTerminal()
    {
        QVERIFY(!firstShotRemotePath.isEmpty());
        // A terminal connected to the server, as its shell titles it.
        xterm = std::make_unique<TestXterm>(target->name + QLatin1Char('@') + serverAlias + QStringLiteral(": ~"));
        QVERIFY(xterm->start());
        QVERIFY(pressPasteHotkey());
        const QByteArray expected = QStringLiteral("shot1: %1 ").arg(firstShotRemotePath).toUtf8();
        QCOMPARE(xterm->waitFor(expected.size(), 10000), expected);
        QTest::qWait(300); // nothing more follows
        QCOMPARE(xterm->received(), expected);
        typedByFirstPress = expected;
        QTRY_VERIFY_WITH_TIMEOUT(log().contains(QStringLiteral("截图1 粘到 ") + serverAlias), 5000);
    }

    void disabledAccountStopsCaptureAndTheHotkey()
    {
        QVERIFY(!typedByFirstPress.isEmpty());
        QCOMPARE(service.admin({QStringLiteral("users"), QStringLiteral("disable"), username}).status, 0);
        // The next check-in comes shortly after the computer wakes up.
        QVERIFY(logind.announceWake());
        QTRY_VERIFY2_WITH_TIMEOUT(log().contains(QStringLiteral("账号门关闭：你的账号已停用，请联系管理员")),
                                  qPrintable(log()), 20000);

        QVERIFY(copyPicture(TestImages::noise(96, 64, 2), QStringLiteral("second.png")));
        QTest::qWait(2000); // four clipboard polls
        QCOMPARE(filesOnServer().size(), 1);
        QCOMPARE(Store(data).loadState().shots.size(), 1);
        QVERIFY(!log().contains(QStringLiteral("截图2")));

        // Nobody grabs the hot key any more: the terminal gets it as an ordinary key press (xterm answers
        // Alt+3 with a character of its own), and tarnel types nothing after it.
        QVERIFY(xterm->activate());
        QVERIFY(pressPasteHotkey());
        QTRY_VERIFY_WITH_TIMEOUT(xterm->received().size() > typedByFirstPress.size(), 5000);
        QTest::qWait(500);
        const QByteArray after = xterm->received().mid(typedByFirstPress.size());
        QVERIFY2(!after.contains("shot"), after.constData());
        QCOMPARE(log().count(QStringLiteral("粘到")), 1);
        screenshot(QStringLiteral("after-disable.png")); // the login window is back
    }

    // Enabled again, the gate reopens without taking the picture copied while it was closed, only the next
    // copy; quitting ends the ssh connection master tarnel opened.
    void reopenedGateTakesOnlyNewCopiesAndQuitEndsTheMaster()
    {
        QCOMPARE(service.admin({QStringLiteral("users"), QStringLiteral("enable"), username}).status, 0);
        QVERIFY(logind.announceWake());
        QTRY_VERIFY2_WITH_TIMEOUT(log().count(QStringLiteral("账号门打开：开始监听截图")) == 2, qPrintable(log()), 20000);
        QTest::qWait(1500); // three clipboard polls: the picture copied before would have been taken by now
        const QImage third = TestImages::noise(120, 80, 3); // not the size of the one before: never taken as its update
        QVERIFY(copyPicture(third, QStringLiteral("third.png")));
        const auto onServer = [&](const QImage& picture) {
            const QStringList files = filesOnServer();
            return std::any_of(files.begin(), files.end(), [&](const QString& name) {
                return samePixels(QImage(shotsOnServer() + QLatin1Char('/') + name), picture);
            });
        };
        QTRY_VERIFY2_WITH_TIMEOUT(onServer(third), qPrintable(log()), 15000);
        QVERIFY(!onServer(TestImages::noise(96, 64, 2)));
        QCOMPARE(Store(data).loadState().shots.size(), 2);

        const QDir control(desk->account().home + QStringLiteral("/run/tarnel"));
        const auto masters = [&] { return control.entryList({QStringLiteral("cm-*")}, QDir::System); };
        QVERIFY(!masters().isEmpty());
        tarnel.terminate();
        QVERIFY(tarnel.waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(masters().isEmpty(), 5000);
    }
};

QTEST_GUILESS_MAIN(MainRoadTest)
#include "MainRoadTest.moc"
