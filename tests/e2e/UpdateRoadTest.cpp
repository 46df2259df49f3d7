// The update road on real parts: an installed bundle of build 12, run as a local desktop user on Xvfb,
// finds build 13 published in a real tarnel-accountd, downloads and checks it, and after "立即更新" is
// swapped for it by its own script and reopened from the same path; build 13 then refuses a tampered
// build 14 and keeps running.
#include "support/AccountServiceFixture.h"
#include "support/DesktopUser.h"
#include "support/Processes.h"
#include "support/ReleaseRig.h"
#include "support/SshServerFixture.h"
#include "support/TempDataDir.h"
#include "support/TestXterm.h"

#include <QDir>
#include <QProcess>
#include <QTest>
#include <unistd.h>

class UpdateRoadTest : public QObject {
    Q_OBJECT

    TempDataDir own;
    AccountServiceFixture service;
    SshServerFixture sshd; // only makes the local user
    ReleaseRig rig;
    std::optional<DesktopUser> desk;
    QString installed; // ~/.local/opt/tarnel.app of the desktop user
    QString data;
    QProcess tarnel;
    QString artefacts = QStringLiteral(TARNEL_BINARY_DIR "/artifacts/e2e-update");

    QString read(const QString& path) const { return QString::fromUtf8(readFile(path)); }
    QString appLog() const { return read(data + QStringLiteral("/logs/tarnel.log")); }
    QString updaterLog() const { return read(data + QStringLiteral("/updates/updater.log")); }
    QString installLog() const { return read(data + QStringLiteral("/updates/install.log")); }

    // The desktop user's processes running the installed program (a child it forks shows the same program
    // until its exec, so it does not count).
    QList<pid_t> runningInstalled() const
    {
        QList<pid_t> found;
        for (pid_t pid : desk->processes())
            if (QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid)) == installed + QStringLiteral("/bin/tarnel"))
                found << pid;
        return withoutForkedChildren(found);
    }

    QString promptWindow() const
    {
        return xdotoolOutput({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                              QStringLiteral("tarnel 有新版本")}).section(QLatin1Char('\n'), 0, 0);
    }

    void screenshot(const QString& name) const { saveScreen(artefacts + QLatin1Char('/') + name); }

    // A bundle of the keyed tarnel at that build, signed with the test publisher's key and published.
    bool publish(const QString& build, const QString& version, bool tamper)
    {
        const QString app = rig.makeBundle(QStringLiteral("r") + build, build, version, QStringLiteral(E2E_TARNEL));
        const QString archive = rig.path(QStringLiteral("r%1.zip").arg(build));
        if (app.isEmpty() || !rig.sign(app, QStringLiteral(E2E_PUBLISHER_KEY)))
            return false;
        if (tamper) {
            QFile notes(app + QStringLiteral("/share/tarnel/notes.txt"));
            if (!notes.open(QIODevice::Append) || notes.write("changed after signing\n") <= 0)
                return false;
            notes.close();
            if (!ReleaseRig::zipAsIs(app, archive))
                return false;
        } else if (ReleaseRig::pack(app, archive).isEmpty()) {
            return false;
        }
        return ReleaseRig::publish(service, archive, version, build.toLongLong(),
                                   {QStringLiteral("--note"), QStringLiteral("版本 ") + version});
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!SshServerFixture::canCreateAccounts())
            QSKIP("needs a local user of its own (run as root)");
        if (!haveX11Tools({QStringLiteral("xdotool"), QStringLiteral("import"), QStringLiteral("xdpyinfo")}))
            QSKIP("needs an X server (DISPLAY) with a window manager, and xdotool, import, xdpyinfo");
        QVERIFY2(service.start(), qPrintable(service.error()));
        QVERIFY(rig.ok());

        // Named per process: other checkouts on this machine may run the same test at the same time.
        desk = DesktopUser::create(sshd, QStringLiteral("tarnel-upd%1").arg(::getpid()));
        QVERIFY(desk);
        const QString home = desk->account().home;
        QVERIFY(sshd.makeDirectory(desk->account(), home + QStringLiteral("/run")));
        const QString authority = qEnvironmentVariable("XAUTHORITY");
        if (!authority.isEmpty() && QFile::exists(authority))
            QVERIFY(sshd.writeFile(desk->account(), home + QStringLiteral("/.Xauthority"), readFile(authority), 0600));
        QProcess probe;
        desk->enterSession(probe, {});
        probe.start(QStringLiteral("xdpyinfo"), {});
        if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
            QSKIP("the X server does not let another local user in (start Xvfb with -ac, or give an XAUTHORITY)");

        // Build 12 installed where a user installs it, owned by the user.
        const QString current = rig.makeBundle(QStringLiteral("r12"), QStringLiteral("12"), QStringLiteral("1.3.0"),
                                               QStringLiteral(E2E_TARNEL));
        QVERIFY(!current.isEmpty());
        installed = home + QStringLiteral("/.local/opt/tarnel.app");
        QVERIFY(QDir().mkpath(home + QStringLiteral("/.local/opt")));
        QCOMPARE(QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), current, installed}), 0);
        QVERIFY(desk->own(home + QStringLiteral("/.local")));
        data = home + QStringLiteral("/tarnel-data");
        QVERIFY(sshd.makeDirectory(desk->account(), data));

        QVERIFY(publish(QStringLiteral("13"), QStringLiteral("1.4.0"), false));
    }

    void cleanupTestCase()
    {
        if (desk)
            QVERIFY(desk->stopEverything());
        QDir().mkpath(artefacts);
        for (const QString& log : {QStringLiteral("logs/tarnel.log"), QStringLiteral("updates/updater.log"),
                                   QStringLiteral("updates/install.log")}) {
            const QString copy = artefacts + QLatin1Char('/') + QFileInfo(log).fileName();
            QFile::remove(copy);
            QFile::copy(data + QLatin1Char('/') + log, copy);
        }
    }

    void updatesItselfThenRefusesATamperedRelease()
    {
        QProcessEnvironment extra;
        extra.insert(QStringLiteral("TARNEL_DATA"), data);
        extra.insert(QStringLiteral("TARNEL_SERVICE_URL"), service.url().toString());
        extra.insert(QStringLiteral("TARNEL_LEGACY_SERVICE_URL"), service.url().toString());
        desk->enterSession(tarnel, extra);
        tarnel.setProcessChannelMode(QProcess::ForwardedChannels);
        tarnel.start(installed + QStringLiteral("/bin/tarnel"), {});
        QVERIFY(tarnel.waitForStarted(10000));

        // Checked 8 s after start: downloaded, checked and offered.
        QTRY_VERIFY2_WITH_TIMEOUT(!promptWindow().isEmpty(), qPrintable(updaterLog() + appLog()), 60000);
        QVERIFY(updaterLog().contains(QStringLiteral("] 新版本 1.4.0（13）已下载并校验通过\n")));
        screenshot(QStringLiteral("prompt.png"));

        // The next release is tampered with after signing.
        QVERIFY(publish(QStringLiteral("14"), QStringLiteral("1.5.0"), true));

        const QString window = promptWindow();
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), window});
        xdotool({QStringLiteral("key"), QStringLiteral("--window"), window, QStringLiteral("Return")});
        // The prompt's program ends while the key is still down: let go of it for the tests that follow.
        xdotool({QStringLiteral("keyup"), QStringLiteral("Return")});
        QVERIFY2(tarnel.waitForFinished(20000), qPrintable(appLog()));
        QVERIFY(updaterLog().contains(QStringLiteral("] 开始更新到 1.4.0：换 ") + installed + QLatin1Char('\n')));
        QVERIFY(appLog().contains(QStringLiteral("自动更新：开始换 tarnel.app，退出")));

        // Swapped and reopened from the same path: build 13 runs there now.
        QTRY_VERIFY2_WITH_TIMEOUT(installLog().contains(QStringLiteral("重新打开 ") + installed), qPrintable(installLog()), 30000);
        QVERIFY2(installLog().contains(QStringLiteral("\n已换成新版本\n")), qPrintable(installLog()));
        QTRY_VERIFY2_WITH_TIMEOUT(appLog().contains(QStringLiteral("启动 tarnel 1.4.0 (13)")), qPrintable(appLog()), 20000);
        QCOMPARE(runningInstalled().size(), 1);
        QVERIFY(read(installed + QStringLiteral("/info.json")).contains(QStringLiteral("\"13\"")));
        QVERIFY(!QFile::exists(installed + QStringLiteral(".old")));

        // Build 13 checks 8 s after its start, finds 14 and refuses it; it keeps running.
        QTRY_VERIFY2_WITH_TIMEOUT(updaterLog().contains(QStringLiteral("下载更新失败：更新包的签名不对（3），已丢弃")),
                                  qPrintable(updaterLog()), 60000);
        QVERIFY(!QFile::exists(data + QStringLiteral("/updates/14")));
        QVERIFY2(!QFile::exists(data + QStringLiteral("/updates/13")), "the new version clears stages up to its own build");
        QCOMPARE(runningInstalled().size(), 1);
        QVERIFY(read(installed + QStringLiteral("/info.json")).contains(QStringLiteral("\"13\"")));
        QVERIFY(promptWindow().isEmpty());
    }
};

QTEST_GUILESS_MAIN(UpdateRoadTest)
#include "UpdateRoadTest.moc"
