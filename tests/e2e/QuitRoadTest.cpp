// Quitting on real parts: an installed tarnel, signed in against a real tarnel-accountd and run on the
// shared X server with its own home, is started a second time (which says so and opens the panel), gets
// the settings window from the tray menu and the update prompt from a published release, and then ends at
// once and cleanly from "退出 tarnel" in the tray menu, with all three windows open (the prompt's own closing
// would mean "稍后", the others only hide: neither may hold the process).
#include "account/AccountRecord.h"
#include "state/AtomicFile.h"
#include "state/Store.h"
#include "support/AccountServiceFixture.h"
#include "support/Processes.h"
#include "support/ReleaseRig.h"
#include "support/TempDataDir.h"
#include "support/TestXterm.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

class QuitRoadTest : public QObject {
    Q_OBJECT

    TempDataDir own;
    AccountServiceFixture service;
    ReleaseRig rig;
    QTemporaryDir home;
    QString program; // bin/tarnel of the installed bundle
    QProcess tarnel;
    QString artefacts = QStringLiteral(TARNEL_BINARY_DIR "/artifacts/e2e-quit");

    QString data() const { return home.filePath(QStringLiteral(".local/share/tarnel")); }
    QString appLog() const { return QString::fromUtf8(readFile(data() + QStringLiteral("/logs/tarnel.log"))); }

    // The user's session as far as tarnel sees it: its home, runtime folder and the test's service.
    void inSession(QProcess& process) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "TARNEL_DATA", "TARNEL_TEST"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QStringLiteral("unix:path=") + home.filePath(QStringLiteral("no-bus")));
        env.insert(QStringLiteral("TARNEL_SERVICE_URL"), service.url().toString());
        env.insert(QStringLiteral("TARNEL_LEGACY_SERVICE_URL"), service.url().toString());
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(home.path());
    }

    QStringList visibleWindows() const
    {
        return xdotoolOutput({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                              QString::number(tarnel.processId())})
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    QString windowNamed(const QString& title) const
    {
        const QStringList mine = visibleWindows();
        for (const QString& id : xdotoolOutput({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                QStringLiteral("--name"), QStringLiteral("^") + title + QStringLiteral("$")})
                                     .split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            if (mine.contains(id))
                return id;
        return {};
    }

    // The tray icon: the small window docked at the bottom of the screen.
    QString trayIcon() const
    {
        const int screenHeight = xdotoolOutput({QStringLiteral("getdisplaygeometry")}).section(QLatin1Char(' '), 1, 1).toInt();
        for (const QString& id : visibleWindows()) {
            QMap<QString, int> values;
            for (const QString& line : xdotoolOutput({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id})
                                           .split(QLatin1Char('\n')))
                values.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1).toInt());
            if (values.value(QStringLiteral("WIDTH")) <= 64 && values.value(QStringLiteral("HEIGHT")) <= 64
                && values.value(QStringLiteral("Y")) > screenHeight - 100)
                return id;
        }
        return {};
    }

    // Opens the tray menu with a right click and clicks the item at `rowCentre` (0 the top, 1 the bottom of
    // the menu's height); false when no menu opened.
    bool chooseFromTrayMenu(double rowCentre, const QString& shot)
    {
        const QString icon = trayIcon();
        if (icon.isEmpty())
            return false;
        const QStringList before = visibleWindows();
        if (!xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), icon, QStringLiteral("8"), QStringLiteral("8"),
                      QStringLiteral("click"), QStringLiteral("3")}))
            return false;
        QString menu;
        if (!QTest::qWaitFor([&] {
                for (const QString& id : visibleWindows())
                    if (!before.contains(id))
                        menu = id;
                return !menu.isEmpty();
            }, 5000))
            return false;
        screenshot(shot);
        QMap<QString, int> size;
        for (const QString& line : xdotoolOutput({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), menu}).split(QLatin1Char('\n')))
            size.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1).toInt());
        // The pointer, not keys: the menu's keyboard grab may come late on a busy machine. The chosen item
        // closes the menu.
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), menu,
                 QString::number(size.value(QStringLiteral("WIDTH")) / 2),
                 QString::number(int(size.value(QStringLiteral("HEIGHT")) * rowCentre)), QStringLiteral("click"),
                 QStringLiteral("1")});
        return true;
    }

    void screenshot(const QString& name) const { saveScreen(artefacts + QLatin1Char('/') + name); }

private Q_SLOTS:
    void initTestCase()
    {
        if (!haveX11Tools({QStringLiteral("xdotool"), QStringLiteral("import")}))
            QSKIP("needs an X server (DISPLAY) with a window manager and tray, and xdotool, import");
        // xdotool matches the windows' Chinese titles only in a UTF-8 locale (a bare login has none).
        qputenv("LC_ALL", "C.UTF-8");
        QVERIFY2(service.start(), qPrintable(service.error()));
        QVERIFY(rig.ok());
        QVERIFY(home.isValid());
        QVERIFY(QDir().mkpath(home.filePath(QStringLiteral("run"))));
        QVERIFY(QFile::setPermissions(home.filePath(QStringLiteral("run")),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));

        // Build 12 installed; build 13 published, so the prompt comes a few seconds after start.
        const QString installed = rig.makeBundle(QStringLiteral("r12"), QStringLiteral("12"), QStringLiteral("1.3.0"),
                                                 QStringLiteral(E2E_TARNEL));
        QVERIFY(!installed.isEmpty());
        program = installed + QStringLiteral("/bin/tarnel");
        const QString next = rig.makeBundle(QStringLiteral("r13"), QStringLiteral("13"), QStringLiteral("1.4.0"),
                                            QStringLiteral(E2E_TARNEL));
        const QString archive = rig.path(QStringLiteral("r13.zip"));
        QVERIFY(!next.isEmpty() && rig.sign(next, QStringLiteral(E2E_PUBLISHER_KEY)));
        QVERIFY(!ReleaseRig::pack(next, archive).isEmpty());
        QVERIFY(ReleaseRig::publish(service, archive, QStringLiteral("1.4.0"), 13));

        // Signed in, onboarding done, no server yet: the panel is the first window.
        const QString token = service.signUp(QStringLiteral("quitter"), QStringLiteral("quit-pass-1"));
        QVERIFY(!token.isEmpty());
        QVERIFY(QDir().mkpath(data()));
        const Store store(data());
        Settings settings;
        settings.onboardingDone = true;
        store.saveSettings(settings);
        const AccountRecord record{QStringLiteral("quitter"), QStringLiteral("quitter"), token, std::nullopt};
        QVERIFY(AtomicFile::write(data() + QStringLiteral("/account.json"),
                                   QJsonDocument(record.encode()).toJson(QJsonDocument::Compact), 0600).ok());
    }

    void cleanupTestCase()
    {
        if (tarnel.state() != QProcess::NotRunning) {
            tarnel.kill();
            tarnel.waitForFinished(5000);
        }
        QDir().mkpath(artefacts);
        QFile::remove(artefacts + QStringLiteral("/tarnel.log"));
        QFile::copy(data() + QStringLiteral("/logs/tarnel.log"), artefacts + QStringLiteral("/tarnel.log"));
    }

    void secondStartSaysSoAndShowsThePanel()
    {
        inSession(tarnel);
        tarnel.setProcessChannelMode(QProcess::ForwardedChannels);
        tarnel.start(program, {});
        QVERIFY(tarnel.waitForStarted(10000));
        QTRY_VERIFY2_WITH_TIMEOUT(!windowNamed(QStringLiteral("tarnel")).isEmpty(), qPrintable(appLog()), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!trayIcon().isEmpty(), 10000);

        // The panel closed, then a second start: it leaves at once, saying where the running one is.
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), windowNamed(QStringLiteral("tarnel"))});
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), trayIcon(), QStringLiteral("8"), QStringLiteral("8"),
                 QStringLiteral("click"), QStringLiteral("1")});
        QTRY_VERIFY_WITH_TIMEOUT(windowNamed(QStringLiteral("tarnel")).isEmpty(), 5000);
        QProcess second;
        inSession(second);
        second.start(program, {});
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(second.readAllStandardOutput()), QStringLiteral("tarnel 已在运行，已打开面板\n"));
        QTRY_VERIFY_WITH_TIMEOUT(!windowNamed(QStringLiteral("tarnel")).isEmpty(), 5000);
        QCOMPARE(tarnel.state(), QProcess::Running);
    }

    void quitEndsItWithEveryWindowOpen()
    {
        QCOMPARE(tarnel.state(), QProcess::Running);
        // "设置…": the sixth of the menu's eight rows (the account's and quitting come after it).
        QVERIFY(chooseFromTrayMenu(5.5 / 8, QStringLiteral("menu-settings.png")));
        QTRY_VERIFY_WITH_TIMEOUT(!windowNamed(QStringLiteral("tarnel 设置")).isEmpty(), 5000);
        QTRY_VERIFY2_WITH_TIMEOUT(!windowNamed(QStringLiteral("tarnel 有新版本")).isEmpty(), qPrintable(appLog()), 60000);
        QVERIFY(!windowNamed(QStringLiteral("tarnel")).isEmpty());
        screenshot(QStringLiteral("before-quit.png"));

        // "退出 tarnel" is the last row.
        QVERIFY(chooseFromTrayMenu(1 - 0.5 / 8, QStringLiteral("menu-quit.png")));
        QVERIFY2(tarnel.waitForFinished(10000), "tarnel still runs after 退出 tarnel");
        QCOMPARE(tarnel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tarnel.exitCode(), 0);
        // Logged on the way out, then the link stopped as the hub went.
        QVERIFY2(appLog().contains(QStringLiteral("] 退出\n")), qPrintable(appLog()));
        QVERIFY2(appLog().endsWith(QStringLiteral("设备互联：停止（app 退出）\n")), qPrintable(appLog()));
    }

    // A logout or `kill` (SIGTERM, SIGHUP) ends it the way "退出 tarnel" does: logged, the link program
    // stopped, and a shot taken just before on disk.
    void terminationSignalsQuitTheSameWay()
    {
        const QString net = QFileInfo(program).absolutePath() + QStringLiteral("/tarnel-net");
        QFile::remove(net);
        QVERIFY(QFile::copy(QStringLiteral(TARNEL_BINARY_DIR "/bin/tarnel-net"), net));
        int round = 0;
        for (const int signal : {SIGTERM, SIGHUP}) {
            ++round;
            const qsizetype logged = appLog().size();
            inSession(tarnel);
            tarnel.start(program, {});
            QVERIFY(tarnel.waitForStarted(10000));
            static const QRegularExpression linkStarted(QStringLiteral("tarnel-net 已启动（pid (\\d+)"));
            QRegularExpressionMatch link;
            QTRY_VERIFY2_WITH_TIMEOUT((link = linkStarted.match(appLog().mid(logged))).hasMatch(), qPrintable(appLog().mid(logged)), 30000);
            QVERIFY(processAlive(link.captured(1).toLongLong()));

            QImage picture(200 + round, 120, QImage::Format_RGB32);
            picture.fill(round);
            const QString file = home.filePath(QStringLiteral("copy%1.png").arg(round));
            QVERIFY(picture.save(file));
            // A copy in the first seconds after a start is not taken: copied again until one is.
            static const QRegularExpression stored(QStringLiteral("截图(\\d+) 已存"));
            QRegularExpressionMatch shot;
            QProcess xclip;
            const auto copied = [&] {
                xclip.kill();
                xclip.waitForFinished(5000);
                xclip.start(QStringLiteral("xclip"), {QStringLiteral("-quiet"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                                      QStringLiteral("-t"), QStringLiteral("image/png"), QStringLiteral("-i"), file});
                return QTest::qWaitFor([&] { return (shot = stored.match(appLog().mid(logged))).hasMatch(); }, 4000);
            };
            QVERIFY2(copied() || copied() || copied(), qPrintable(appLog().mid(logged)));
            ::kill(pid_t(tarnel.processId()), signal);
            QVERIFY2(tarnel.waitForFinished(10000), "tarnel still runs after the signal");
            xclip.kill();
            xclip.waitForFinished(5000);
            QCOMPARE(tarnel.exitStatus(), QProcess::NormalExit);
            QCOMPARE(tarnel.exitCode(), 0);
            const QString lines = appLog().mid(logged);
            QVERIFY2(lines.contains(QStringLiteral("] 退出\n")), qPrintable(lines));
            QVERIFY2(lines.endsWith(QStringLiteral("设备互联：停止（app 退出）\n")), qPrintable(lines));
            QVERIFY2(!processAlive(link.captured(1).toLongLong()), "tarnel-net still runs");
            QCOMPARE(Store(data()).loadState().shots.value(round - 1).n, shot.captured(1).toLongLong());
        }
    }
};

QTEST_GUILESS_MAIN(QuitRoadTest)
#include "QuitRoadTest.moc"
