// The installation: where the new version goes, how the script is started, and the script itself run in
// temporary folders (with a quote in every path) against stub pkexec, cp and mv.
#include "account/UpdateInstaller.h"
#include "platform/ProcessRunner.h"
#include "support/FakeLaunchServices.h"
#include "support/ReleaseRig.h"
#include "support/TempDataDir.h"

#include <QDir>
#include <QDirIterator>
#include <QtTest>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
bool writeExecutable(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size()
        && file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// A bundle whose bin/tarnel only says which one was reopened (into $REOPENED), with a stand-in for the
// administrator step that makes the same moves through the stubs.
bool makeBundle(const QString& app, const QByteArray& name)
{
    return writeExecutable(app + QStringLiteral("/bin/tarnel"), "#!/bin/sh\necho " + name + " > \"$REOPENED\"\n")
        && writeExecutable(app + QStringLiteral("/info.json"), "{\"name\":\"" + name + "\"}")
        && writeExecutable(app + QStringLiteral("/bin/tarnel-update-root"),
                           "#!/bin/bash\nSTAGE=\"$2.updating\"; OLD=\"$2.old\"\n"
                           "if [ ! -e \"$2\" ] && [ -e \"$OLD\" ]; then mv -- \"$OLD\" \"$2\" || exit 1; fi\n"
                           "rm -rf -- \"$STAGE\" \"$OLD\" && cp -r -- \"$1\" \"$STAGE\" && mv -- \"$2\" \"$OLD\" || exit 1\n"
                           "if ! mv -- \"$STAGE\" \"$2\"; then mv -- \"$OLD\" \"$2\"; rm -rf -- \"$STAGE\"; exit 1; fi\n"
                           "rm -rf -- \"$OLD\"\n");
}

qint64 goneProcess()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}
} // namespace

class UpdateInstallerTest : public QObject {
    Q_OBJECT

    TempDataDir data;
    QString root;
    QString originalPath = qEnvironmentVariable("PATH");

private Q_SLOTS:
    void initTestCase()
    {
        ::umask(022); // the administrator step trusts no folder others may write
        root = data.file(QStringLiteral("it's a folder"));
        const QString stubs = root + QStringLiteral("/stubs");
        QVERIFY(writeExecutable(stubs + QStringLiteral("/pkexec"),
                                "#!/bin/bash\ncase \"$PKEXEC_MODE\" in ok) TARNEL_ADMIN=1 exec \"$@\";; *) exit \"$PKEXEC_MODE\";; esac\n"));
        QVERIFY(writeExecutable(stubs + QStringLiteral("/cp"),
                                "#!/bin/bash\n[ -n \"$CP_NEEDS_ADMIN\" ] && [ \"$TARNEL_ADMIN\" != 1 ] && exit 1\nexec /bin/cp \"$@\"\n"));
        // Fails moves of the copy into place always, and the move back once (the flag file is the "once").
        QVERIFY(writeExecutable(stubs + QStringLiteral("/mv"),
                                "#!/bin/bash\nsrc=\"${@: -2:1}\"\n"
                                "case \"$src\" in *.updating) [ -n \"$MV_FAILS\" ] && exit 1;;\n"
                                "  *.old) [ -n \"$MV_FAILS_BACK_ONCE\" ] && [ ! -e \"$MV_FAILS_BACK_ONCE\" ] && touch \"$MV_FAILS_BACK_ONCE\" && exit 1;; esac\n"
                                "exec /bin/mv \"$@\"\n"));
        qputenv("PATH", (stubs + QLatin1Char(':') + originalPath).toUtf8());
    }

    void cleanupTestCase() { qputenv("PATH", originalPath.toUtf8()); }

    void swaps_data()
    {
        QTest::addColumn<QString>("setting"); // environment for the stubs, "NAME=value;..."
        QTest::addColumn<bool>("oldInstalled");
        QTest::addColumn<bool>("onlyOldCopyLeft");
        QTest::addColumn<QStringList>("lines"); // between the waiting line and the reopening line
        QTest::addColumn<QString>("reopened");
        const QString asAdmin = QStringLiteral("没有权限直接换，请求管理员授权");
        const QString kept = QStringLiteral("没换成，保持旧版本");
        QTest::newRow("replaces in place") << "" << true << false << QStringList{QStringLiteral("已换成新版本")} << "new";
        QTest::newRow("first installation") << "" << false << false << QStringList{QStringLiteral("已换成新版本")} << "new";
        QTest::newRow("administrator") << "CP_NEEDS_ADMIN=1;PKEXEC_MODE=ok" << true << false
                                       << QStringList{asAdmin, QStringLiteral("已换成新版本（管理员授权）")} << "new";
        QTest::newRow("administrator cancelled") << "CP_NEEDS_ADMIN=1;PKEXEC_MODE=126" << true << false
                                                 << QStringList{asAdmin, kept} << "old";
        QTest::newRow("failing move puts the old copy back") << "MV_FAILS=1;PKEXEC_MODE=ok" << true << false
                                                            << QStringList{asAdmin, kept} << "old";
        QTest::newRow("double failure keeps the only old copy") << "MV_FAILS=1;MV_FAILS_BACK_ONCE=flag;PKEXEC_MODE=ok"
                                                               << true << false << QStringList{asAdmin, kept} << "old";
        QTest::newRow("left with only the old copy") << "" << false << true << QStringList{QStringLiteral("已换成新版本")} << "new";
        // Runs whoever runs the test: a group-writable helper is refused even when root owns it.
        QTest::newRow("helper others may change") << "CP_NEEDS_ADMIN=1;PKEXEC_MODE=ok;HELPER_OPEN=1" << true << false
                                                  << QStringList{asAdmin, QStringLiteral("%1 不是只有管理员能改的程序，不用它"), kept} << "old";
    }
    void swaps()
    {
        QFETCH(QString, setting);
        QFETCH(bool, oldInstalled);
        QFETCH(bool, onlyOldCopyLeft);
        QFETCH(QStringList, lines);
        QFETCH(QString, reopened);

        const bool helperOpen = setting.contains(QLatin1String("HELPER_OPEN"));
        // Only a helper root owns, in folders only root may change, is run as the administrator.
        if (setting.contains(QLatin1String("PKEXEC_MODE")) && !helperOpen && ::geteuid() != 0)
            QSKIP("the administrator step runs only a helper root owns: needs root");
        const QString run = root + QStringLiteral("/run ") + QTest::currentDataTag();
        QDir(run).removeRecursively();
        const QString marker = run + QStringLiteral("/reopened");
        const QString source = run + QStringLiteral("/updates/13/tarnel.app");
        const QString target = run + QStringLiteral("/o'pt/tarnel.app");
        QVERIFY(makeBundle(source, "new"));
        if (oldInstalled)
            QVERIFY(makeBundle(target, "old"));
        if (onlyOldCopyLeft)
            QVERIFY(makeBundle(target + QStringLiteral(".old"), "old"));
        const QString helper = target + QStringLiteral("/bin/tarnel-update-root");
        if (helperOpen)
            QVERIFY(QFile(helper).setPermissions(QFile(helper).permissions() | QFile::WriteGroup));
        for (QString& line : lines)
            line.replace(QLatin1String("%1"), helper);
        QStringList set{QStringLiteral("REOPENED")};
        qputenv("REOPENED", marker.toUtf8());
        for (const QString& pair : setting.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString value = pair.section(QLatin1Char('='), 1);
            qputenv(pair.section(QLatin1Char('='), 0, 0).toUtf8(),
                    (value == QLatin1String("flag") ? run + QStringLiteral("/flag") : value).toUtf8());
            set << pair.section(QLatin1Char('='), 0, 0);
        }
        const auto scriptWritten = UpdateInstaller::writeScript(run + QStringLiteral("/updates"));
        QVERIFY2(scriptWritten.ok(), qPrintable(scriptWritten.failure()));
        const std::optional<QString> script = scriptWritten.value();
        const QString log = run + QStringLiteral("/updates/install.log");
        const qint64 pid = goneProcess();
        const CommandResult result = ProcessRunner::run(QStringLiteral("/bin/bash"),
                                                        {*script, QString::number(pid), source, target, log}, std::nullopt, 60);
        for (const QString& name : set)
            qunsetenv(name.toUtf8());
        QCOMPARE(result.status, 0);

        QTRY_COMPARE_WITH_TIMEOUT(readFile(marker).trimmed(), reopened.toUtf8(), 10000);
        QCOMPARE(fileMode(log), 0600);
        QStringList written = QString::fromUtf8(readFile(log)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY2(written.size() >= 2, qPrintable(written.join(QLatin1Char('\n'))));
        QVERIFY(written.first().endsWith(QStringLiteral("] 等 tarnel（%1）退出").arg(pid)));
        QVERIFY(written.last().endsWith(QStringLiteral("] 重新打开 ") + target));
        QCOMPARE(written.mid(1, written.size() - 2), lines);
        QVERIFY(!QFile::exists(target + QStringLiteral(".old")));
        QVERIFY(!QFile::exists(target + QStringLiteral(".updating")));
        QVERIFY(!QFile::exists(run + QStringLiteral("/updates/swap-update.sh")));
        QVERIFY2(QFile::exists(source + QStringLiteral("/bin/tarnel")), "the stage is left for the new version to clean");
    }

    // The administrator step run for real (the stub pkexec runs it; this test runs as root): only a signed,
    // newer copy goes in, and it belongs to root, whoever owned the stage and whatever its modes were.
    void administratorStepInstallsACheckedRootCopy_data()
    {
        QTest::addColumn<QString>("stage");
        QTest::addColumn<QString>("reopened");
        QTest::newRow("signed") << "signed" << "new";
        QTest::newRow("changed after signing") << "tampered" << "old";
        QTest::newRow("older signed release") << "older" << "old";
    }
    void administratorStepInstallsACheckedRootCopy()
    {
        if (::geteuid() != 0)
            QSKIP("the administrator step needs root");
        QFETCH(QString, stage);
        QFETCH(QString, reopened);
        ReleaseRig rig;
        QVERIFY(rig.ok());
        const QString run = root + QStringLiteral("/root ") + QTest::currentDataTag();
        QDir(run).removeRecursively();
        const QString marker = run + QStringLiteral("/reopened");
        QVERIFY(writeExecutable(run + QStringLiteral("/program"), "#!/bin/sh\necho new > \"$REOPENED\"\n"));
        const QString built = rig.makeBundle(QStringLiteral("release"), stage == QLatin1String("older") ? QStringLiteral("11") : QStringLiteral("13"),
                                             QStringLiteral("1.4.0"), run + QStringLiteral("/program"));
        QVERIFY(rig.sign(built, QStringLiteral(UPDATE_ROOT_KEY)));
        if (stage == QLatin1String("tampered")) {
            QFile notes(built + QStringLiteral("/share/tarnel/notes.txt"));
            QVERIFY(notes.open(QIODevice::Append) && notes.write("more\n") == 5);
        }
        // The desktop user's stage, writable by its group.
        const QString source = run + QStringLiteral("/updates/13/tarnel.app");
        QVERIFY(QDir().mkpath(QFileInfo(source).path()));
        QCOMPARE(QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), built, source}), 0);
        QCOMPARE(QProcess::execute(QStringLiteral("chown"), {QStringLiteral("-R"), QStringLiteral("65534:65534"), source}), 0);
        QCOMPARE(QProcess::execute(QStringLiteral("chmod"), {QStringLiteral("-R"), QStringLiteral("g+w"), source}), 0);

        const QString target = run + QStringLiteral("/opt/tarnel.app");
        QVERIFY(makeBundle(target, "old"));
        QVERIFY(writeExecutable(target + QStringLiteral("/info.json"), R"({"build":"12","identifier":"com.tarnel.app"})"));
        const QString helper = target + QStringLiteral("/bin/tarnel-update-root");
        QVERIFY(QFile::remove(helper) && QFile::copy(QStringLiteral(UPDATE_ROOT), helper));

        const auto scriptWritten = UpdateInstaller::writeScript(run + QStringLiteral("/updates"));
        QVERIFY2(scriptWritten.ok(), qPrintable(scriptWritten.failure()));
        const QString log = run + QStringLiteral("/updates/install.log");
        const QList<QByteArray> set{"REOPENED", "CP_NEEDS_ADMIN", "PKEXEC_MODE"};
        qputenv("REOPENED", marker.toUtf8());
        qputenv("CP_NEEDS_ADMIN", "1");
        qputenv("PKEXEC_MODE", "ok");
        const CommandResult result = ProcessRunner::run(
            QStringLiteral("/bin/bash"), {scriptWritten.value(), QString::number(goneProcess()), source, target, log}, std::nullopt, 60);
        for (const QByteArray& name : set)
            qunsetenv(name);
        QCOMPARE(result.status, 0);
        QTRY_COMPARE_WITH_TIMEOUT(readFile(marker).trimmed(), reopened.toUtf8(), 10000);
        const QString written = QString::fromUtf8(readFile(log));
        QVERIFY2(written.contains(reopened == QLatin1String("new") ? QStringLiteral("已换成新版本（管理员授权）")
                                                                   : QStringLiteral("没换成，保持旧版本")),
                 qPrintable(written));
        QCOMPARE(QDir(run + QStringLiteral("/opt")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{QStringLiteral("tarnel.app")});
        if (reopened != QLatin1String("new"))
            return;
        QDirIterator walk(target, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        int seen = 0;
        while (walk.hasNext()) {
            const QString path = walk.next();
            struct stat info {};
            QCOMPARE(::lstat(QFile::encodeName(path).constData(), &info), 0);
            QVERIFY2(info.st_uid == 0 && info.st_gid == 0, qPrintable(path));
            if (!S_ISLNK(info.st_mode))
                QVERIFY2((info.st_mode & 022) == 0, qPrintable(path));
            ++seen;
        }
        QVERIFY(seen >= 5);
        QVERIFY(QFileInfo(target + QStringLiteral("/bin/tarnel")).isExecutable());
        QCOMPARE(QFileInfo(target + QStringLiteral("/bin/notes")).symLinkTarget(), target + QStringLiteral("/share/tarnel/notes.txt"));
    }

    // The administrator step replaces only a bundle already installed, root's own, in folders only root may
    // change; it follows no link at the bundle or its old copy and installs nothing older or unknown.
    void administratorStepTrustsOnlyAnInstalledBundle_data()
    {
        QTest::addColumn<QString>("setUp");
        QTest::addColumn<bool>("installed");
        QTest::newRow("installed bundle") << "" << true;
        QTest::newRow("link at the old copy") << "old link" << false;
        QTest::newRow("link at the bundle") << "bundle link" << false;
        QTest::newRow("nothing installed") << "missing" << false;
        QTest::newRow("folder others may change") << "open folder" << false;
        QTest::newRow("sticky folder others may write") << "sticky folder" << false;
        QTest::newRow("bundle root does not own") << "not root's" << false;
        QTest::newRow("build unknown") << "no build" << false;
    }
    void administratorStepTrustsOnlyAnInstalledBundle()
    {
        if (::geteuid() != 0)
            QSKIP("the administrator step needs root");
        QFETCH(QString, setUp);
        QFETCH(bool, installed);
        ReleaseRig rig;
        QVERIFY(rig.ok());
        const QString run = root + QStringLiteral("/trust ") + QTest::currentDataTag();
        QDir(run).removeRecursively();
        const QString source = rig.makeBundle(QStringLiteral("release"), QStringLiteral("13"));
        QVERIFY(rig.sign(source, QStringLiteral(UPDATE_ROOT_KEY)));
        const QString elsewhere = run + QStringLiteral("/elsewhere/tarnel.app");
        QVERIFY(makeBundle(elsewhere, "elsewhere"));
        const QString folder = run + (setUp == QLatin1String("missing") ? QStringLiteral("/not/made") : QStringLiteral("/opt"));
        const QString target = folder + QStringLiteral("/tarnel.app");
        if (setUp == QLatin1String("bundle link")) {
            QVERIFY(QDir().mkpath(folder) && QFile::link(elsewhere, target));
        } else if (setUp != QLatin1String("missing")) {
            QVERIFY(makeBundle(target, "old"));
            if (setUp != QLatin1String("no build"))
                QVERIFY(writeExecutable(target + QStringLiteral("/info.json"), R"({"build":"12","identifier":"com.tarnel.app"})"));
        }
        if (setUp == QLatin1String("old link"))
            QVERIFY(QFile::link(QFileInfo(elsewhere).path(), target + QStringLiteral(".old")));
        if (setUp == QLatin1String("open folder"))
            QVERIFY(QFile::setPermissions(folder, QFileDevice::Permissions(0x7777)));
        if (setUp == QLatin1String("sticky folder"))
            QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 01777), 0);
        if (setUp == QLatin1String("not root's"))
            QCOMPARE(::chown(QFile::encodeName(target).constData(), 65534, 65534), 0);

        const CommandResult result = ProcessRunner::run(QStringLiteral(UPDATE_ROOT), {source, target}, std::nullopt, 60);
        QVERIFY2((result.status == 0) == installed, qPrintable(result.stderr));
        QVERIFY(readFile(elsewhere + QStringLiteral("/info.json")).contains("elsewhere"));
        QVERIFY(!QFile::exists(run + QStringLiteral("/not")));
        if (setUp != QLatin1String("bundle link") && setUp != QLatin1String("missing"))
            QCOMPARE(readFile(target + QStringLiteral("/info.json")).contains("\"13\""), installed);
    }

    void targets_data()
    {
        QTest::addColumn<QString>("running");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("target");
        QTest::newRow("system folder") << "/opt/tarnel.app" << false << "/opt/tarnel.app";
        QTest::newRow("removable") << "/media/u/STICK/tarnel.app" << false << "/home/u/.local/opt/tarnel.app";
        QTest::newRow("removable, udisks") << "/run/media/u/STICK/tarnel.app" << false << "/home/u/.local/opt/tarnel.app";
        QTest::newRow("mounted by hand") << "/mnt/tarnel.app" << false << "/home/u/.local/opt/tarnel.app";
        QTest::newRow("read-only") << "/opt/tarnel.app" << true << "/home/u/.local/opt/tarnel.app";
        QTest::newRow("looks alike") << "/mediaX/tarnel.app" << false << "/mediaX/tarnel.app";
    }
    void targets()
    {
        QFETCH(QString, running);
        QFETCH(bool, readOnly);
        QFETCH(QString, target);
        QCOMPARE(UpdateInstaller::targetFor(running, readOnly, QStringLiteral("/home/u")), target);
    }

    void startsDetached_data()
    {
        QTest::addColumn<QString>("cgroup");
        QTest::addColumn<bool>("started");
        QTest::addColumn<bool>("throughSystemd");
        const QString unit = QStringLiteral("0::/user.slice/user-1000.slice/user@1000.service/app.slice/tarnel-keepalive.service\n");
        QTest::newRow("desktop session") << "0::/user.slice/user-1000.slice/session-2.scope\n" << true << false;
        QTest::newRow("app scope") << "0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-x-1.scope\n" << true << false;
        QTest::newRow("keep-alive unit") << unit << true << true;
        QTest::newRow("system service") << "0::/system.slice/cron.service\n" << true << false;
        QTest::newRow("cannot start") << unit << false << true;
    }
    void startsDetached()
    {
        QFETCH(QString, cgroup);
        QFETCH(bool, started);
        QFETCH(bool, throughSystemd);
        FakeKeepAliveAgent agent;
        agent.registered = true;
        UpdateInstaller installer(agent, QStringLiteral("/opt/tarnel.app"));
        QStringList line;
        installer.cgroup = [cgroup] { return cgroup; };
        installer.startDetached = [&](const QString& program, const QStringList& args) {
            line = QStringList{program} + args;
            return started;
        };
        const auto problem = installer.launch(QStringLiteral("/s/tarnel.app"), QStringLiteral("/opt/tarnel.app"), 42);
        QCOMPARE(problem.has_value(), !started);
        QCOMPARE(line.contains(QStringLiteral("systemd-run")), throughSystemd);
        QCOMPARE(line.first(), QStringLiteral("/usr/bin/setsid"));
        QCOMPARE(line.mid(line.size() - 4),
                 (QStringList{QStringLiteral("42"), QStringLiteral("/s/tarnel.app"), QStringLiteral("/opt/tarnel.app"),
                              data.file(QStringLiteral("updates/install.log"))}));
        QCOMPARE(agent.unregistrations, 1);
        QCOMPARE(agent.registered, !started); // enabled again when the installation could not start
    }
};

QTEST_GUILESS_MAIN(UpdateInstallerTest)
#include "UpdateInstallerTest.moc"
