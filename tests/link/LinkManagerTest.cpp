// Supervision of the link program and the link commands, against the scriptable stand-in for tarnel-net.
#include "account/QXServer.h"
#include "link/LinkManager.h"
#include "state/AppInfo.h"
#include "state/Paths.h"
#include "support/AccountServiceFixture.h"
#include "support/AwaitFuture.h"
#include "support/FakeClock.h"
#include "support/FakeLinkProgram.h"
#include "support/FakeNetworkMonitor.h"
#include "support/FakeSleepInhibitor.h"
#include "support/PeerRecords.h"
#include "support/ScriptHome.h"
#include "support/TempDataDir.h"

#include <QDir>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include <csignal>
#include <unistd.h>

class LinkManagerTest : public QObject {
    Q_OBJECT
    TempDataDir data;
    FakeLinkProgram program{Paths::netDirectory()};
    FakeSleepInhibitor inhibitor;
    FakeNetworkMonitor network;
    std::unique_ptr<LinkManager> link;
    std::optional<QString> token;
    bool allowInbound = false;
    QList<int> exits;
    QStringList seen;
    int seenSaves = 0;
    QStringList newDevices;

    // A program still starting up is asked again soon.
    static LinkManager::Intervals quick()
    {
        return {.firstPollMs = 50, .pollMs = 250, .netchangeMs = 100, .relaunchMs = 200, .relaunchMaxMs = 800, .killGraceMs = 300};
    }

    void make(const LinkManager::Intervals& intervals)
    {
        link = std::make_unique<LinkManager>(inhibitor, network);
        link->setIntervals(intervals);
        link->programPath = [] { return std::optional<QString>(FakeLinkProgram::path()); };
        link->tokenProvider = [this] { return token; };
        link->allowInboundProvider = [this] { return allowInbound; };
        link->onHelperExit = [this](int status) { exits << status; };
        link->seenDevices = [this] { return seen; };
        link->saveSeenDevices = [this](const QStringList& ids) { seen = ids, ++seenSaves; };
        link->onNewDevice = [this](const PeerDevice& p) { newDevices << p.id; };
        link->sshDirectory = data.file(QStringLiteral("ssh"));
    }

    qint64 runningPid() const
    {
        return link->helper().kind == LinkManager::Helper::Kind::running ? link->helper().pid : 0;
    }

    // Starts the link and waits for its program and its first applied status.
    qint64 startRunning()
    {
        link->start();
        if (!QTest::qWaitFor([&] { return runningPid() != 0 && link->status().has_value(); }, 10000))
            return 0;
        return runningPid();
    }

    QString log() const { return data.logLines().join(QLatin1Char('\n')); }

    // Polls once more and waits until that poll's status document is applied.
    bool pollApplied()
    {
        if (!QTest::qWaitFor([&] { return !link->pollInFlight(); }, 5000))
            return false;
        QSignalSpy applied(link.get(), &LinkManager::statusApplied);
        link->poll();
        return QTest::qWaitFor([&] { return !applied.isEmpty(); }, 5000);
    }

    static PeerDevice named(const QString& id, const QString& name, const QString& alias, bool online)
    {
        return {.id = id, .name = name, .alias = alias, .online = online};
    }

    static QJsonObject statusWithPeers(int count)
    {
        QJsonArray peers;
        for (int i = 0; i < count; ++i)
            peers.append(QJsonObject{{"id", QStringLiteral("p%1").arg(i)}, {"online", true}});
        return {{"status", QJsonObject{{"version", "fake"}, {"peers", peers}}}};
    }

private Q_SLOTS:
    void init()
    {
        QDir(Paths::netDirectory()).removeRecursively();
        QDir().mkpath(Paths::netDirectory());
        token = QStringLiteral("token-1");
        allowInbound = false;
        exits.clear();
        seen.clear();
        seenSaves = 0;
        newDevices.clear();
        inhibitor.mains = true;
        inhibitor.held = false;
        inhibitor.holds = 0;
        inhibitor.refuseLater = false;
        make(quick());
    }
    void cleanup() { link.reset(); }

    void launchesWithItsCommandLineEnvironmentAndLog_data()
    {
        QTest::addColumn<bool>("inbound");
        QTest::newRow("inbound off") << false;
        QTest::newRow("inbound on") << true;
    }
    void launchesWithItsCommandLineEnvironmentAndLog()
    {
        QFETCH(bool, inbound);
        allowInbound = inbound;
        QDir().mkpath(Paths::logsDirectory());
        QVERIFY(writeWholeFile(LinkManager::logPath(), "earlier run\n"));

        const qint64 pid = startRunning();
        QVERIFY(pid);
        link->start(); // a second start does nothing
        QCOMPARE(link->helper().label(), QStringLiteral("tarnel-net 运行中（pid %1）").arg(pid));
        QVERIFY(log().contains(QStringLiteral("设备互联：tarnel-net 已启动（pid %1，允许连接=%2）")
                                   .arg(pid)
                                   .arg(inbound ? "true" : "false")));

        const QJsonObject run = program.runs().value(0);
        QStringList args;
        for (const QJsonValue& v : run["args"].toArray())
            args << v.toString();
        // State, server and token file are proven by the real program's test; these only show up here.
        QCOMPARE(args.first(), QStringLiteral("serve"));
        QCOMPARE(args.count(QStringLiteral("--allow-inbound")), inbound ? 1 : 0);
        const QList<std::pair<QString, QString>> options{
            {"--name", LinkManager::machineName()},
            {"--pubkey-file", Paths::inData("id_ed25519.pub")},
            {"--app-build", AppInfo::current().build},
            {"--parent-pid", QString::number(::getpid())},
            {"--fallback-server", QXServer::legacyURL().toString()},
        };
        for (const auto& [option, value] : options)
            QCOMPARE(args.value(args.indexOf(option) + 1), value);
        QVERIFY(!args.value(args.indexOf("--ssh-user") + 1).isEmpty());

        QStringList environment;
        for (const QJsonValue& v : run["env"].toArray())
            environment << v.toString();
        environment.sort();
        QCOMPARE(environment, (QStringList{"HOME=" + QDir::homePath(), "LANG=zh_CN.UTF-8", "PATH=/usr/bin:/bin"}));

        QCOMPARE(readFile(LinkManager::tokenPath()), QByteArray("token-1"));
        QCOMPARE(fileMode(LinkManager::tokenPath()), 0600);
        QCOMPARE(fileMode(LinkManager::logPath()), 0600);
        const QByteArray output = readFile(LinkManager::logPath());
        QVERIFY(output.startsWith("earlier run\n"));
        QVERIFY(output.contains(QByteArray("fake link program ") + QByteArray::number(pid) + " started"));
        QVERIFY(output.contains("says hello on stderr"));
        QVERIFY(QFileInfo::exists(Paths::inData("id_ed25519.pub")));
        QFile::remove(LinkManager::logPath());
        link->poll();
        QTRY_VERIFY(program.commandNames().count("status") >= 2);
        QCOMPARE(program.runs().size(), 1);
    }

    void statesWithoutAProgramToRun()
    {
        token.reset();
        link->start();
        QCOMPARE(link->helper().label(), QStringLiteral("还没登录，设备互联等登录后再启动"));
        QVERIFY(!QFileInfo::exists(LinkManager::tokenPath()));

        make(quick());
        link->stop(QStringLiteral("从没启动"));
        QVERIFY(!log().contains(QStringLiteral("从没启动")));
        link->programPath = [] { return std::optional<QString>(); };
        link->start();
        QCOMPARE(link->helper().label(), QStringLiteral("设备互联不可用：这个包里没有 tarnel-net"));
        QVERIFY(log().contains(QStringLiteral("设备互联：找不到 tarnel-net，功能不可用")));
        link->stop(QStringLiteral("账号门关闭"));
        QVERIFY(log().contains(QStringLiteral("设备互联：停止（账号门关闭）")));
        QVERIFY(program.runs().isEmpty());
    }

    void relaunchDelayGrowsUntilARunLastsAndCheckInsAreRationed()
    {
        qint64 pid = startRunning();
        QVERIFY(pid);
        QList<int> delays;
        for (int round = 0; round < 4; ++round) {
            ::kill(pid_t(pid), SIGKILL);
            QTRY_VERIFY(link->pendingRelaunchMs().has_value());
            delays << *link->pendingRelaunchMs();
            if (round == 0) {
                QCOMPARE(link->helper().label(), QStringLiteral("tarnel-net 退出了（代码 137），0 秒后自动重启"));
                QVERIFY(log().contains(QStringLiteral("设备互联：tarnel-net 退出（137），0 秒后重启；详情看 logs/tarnel-net.log")));
            }
            // The new program answered: it is past its start-up, not just spawned.
            QTRY_VERIFY(runningPid() != 0 && runningPid() != pid && link->status()->pid == runningPid());
            pid = runningPid();
        }
        QCOMPARE(delays, (QList<int>{200, 400, 800, 800}));
        QCOMPARE(exits, QList<int>{137}); // one check-in for the burst

        LinkManager::Intervals steady = quick();
        steady.steadyRunMs = 0; // every run now counts as long enough
        link->setIntervals(steady);
        ::kill(pid_t(pid), SIGKILL);
        QTRY_VERIFY(link->pendingRelaunchMs().has_value());
        QCOMPARE(*link->pendingRelaunchMs(), 200);
        QTRY_COMPARE(program.runs().size(), 5);

        // Signed out meanwhile (a kicked machine): the log says that no restart follows.
        QTRY_VERIFY(runningPid() != 0);
        const qsizetype runs = program.runs().size();
        token.reset();
        ::kill(pid_t(runningPid()), SIGKILL);
        QTRY_COMPARE(link->helper().label(), QStringLiteral("还没登录，设备互联等登录后再启动"));
        QVERIFY(log().contains(QStringLiteral("设备互联：已经没有登录，tarnel-net 不重启，等登录后再启动")));
        QCOMPARE(program.runs().size(), runs);
    }

    // A program that ignores quit and SIGTERM is killed: see the quick stop-then-start case.
    void stopEndsTheProgramWithoutRelaunch()
    {
        const qint64 pid = startRunning();
        QVERIFY(pid);
        link->stop(QStringLiteral("账号门关闭"));
        QCOMPARE(link->helper().label(), QStringLiteral("设备互联未启动"));
        QVERIFY(!link->status() && link->peers().isEmpty());
        QTRY_VERIFY(!processAlive(pid));
        QCOMPARE(link->helper().kind, LinkManager::Helper::Kind::stopped);
        QVERIFY(exits.isEmpty());

        // A relaunch that comes due after the stop does nothing.
        const qint64 second = startRunning();
        ::kill(pid_t(second), SIGKILL);
        QTRY_VERIFY(link->pendingRelaunchMs().has_value());
        link->stop(QStringLiteral("测试"));
        QVERIFY(!link->pendingRelaunchMs());
        QTRY_COMPARE(program.runs().size(), 2);
    }

    void quickStopThenStartRunsOneProgram()
    {
        // The old program hangs on until SIGKILL: its late exit and its socket must not touch the new one.
        program.script({{"ignoreTerm", true}, {"stayOnQuit", true}});
        const qint64 old = startRunning();
        QVERIFY(old);
        link->stop(QStringLiteral("退出登录"));
        link->start();
        QTRY_VERIFY(runningPid() != 0 && link->status().has_value());
        const qint64 fresh = runningPid();
        QVERIFY(fresh != old);
        QVERIFY(!processAlive(old));
        QTRY_COMPARE(program.runs().size(), 2); // the new program records its start as its first step
        QCOMPARE(program.runs().at(1)["pid"].toInteger(), fresh); // launched after the old one ended
        link->poll();
        QTRY_VERIFY(program.commands().last()["pid"].toInteger() == fresh);
        QVERIFY(processAlive(fresh));
        QVERIFY(!link->pendingRelaunchMs());
        for (const QJsonObject& command : program.commands())
            QVERIFY(command["pid"].toInteger() != fresh || command["cmd"].toString() != "quit");
    }

    void resultsOfAStoppedLinkAreDropped()
    {
        allowInbound = true;
        QJsonObject script = statusWithPeers(2);
        script["ignoreTerm"] = true;
        script["stayOnQuit"] = true;
        program.script(script);
        const qint64 pid = startRunning();
        QCOMPARE(link->peers().size(), 2);
        QVERIFY(inhibitor.held);

        QJsonObject slow = statusWithPeers(3);
        slow["delayMs"] = 300;
        slow["stayOnQuit"] = true;
        program.script(slow);
        LinkManager::Intervals patient = quick();
        patient.killGraceMs = 10000;
        link->setIntervals(patient);
        link->poll();
        QTRY_VERIFY(program.commandNames().count("status") == 2);
        link->stop(QStringLiteral("退出登录"));
        // The quit waits behind the status exchange on the link queue: once it arrived, that reply is back.
        QTRY_VERIFY(program.commandNames().contains("quit"));
        QCoreApplication::processEvents();
        QVERIFY(!link->status());
        QVERIFY(link->peers().isEmpty());
        QVERIFY(!inhibitor.held);
        ::kill(pid_t(pid), SIGKILL);
    }

    void errorRepliesAreFailuresOnBothRoads()
    {
        program.script(statusWithPeers(1));
        QVERIFY(startRunning());
        const NodeStatus before = *link->status();

        QJsonObject script = statusWithPeers(1);
        script["replies"] = QJsonObject{{"status", QJsonObject{{"error", "令牌过期"}}}, {"allow", QJsonObject{{"error", ""}}}};
        program.script(script);
        link->poll();
        QTRY_COMPARE(link->lastError().value_or(QString()), QStringLiteral("令牌过期"));
        QVERIFY(*link->status() == before);
        // The next timed poll may bring the status error back before this check: record every error shown.
        QStringList shown;
        QObject recording;
        connect(link.get(), &LinkManager::changed, &recording, [&] { shown << link->lastError().value_or(QString()); });
        link->setAllowInbound(true);
        QTRY_VERIFY(shown.contains(QStringLiteral("tarnel-net 报告了错误")));
        QCOMPARE(link->peers().size(), 1);

        script["replies"] = QJsonObject{{"status", QJsonObject{}}};
        program.script(script);
        link->poll();
        QTRY_COMPARE(link->lastError().value_or(QString()), QStringLiteral("tarnel-net 的回复里没有设备状态"));
        QCOMPARE(link->peers().size(), 1);

        // A status document as the reply to allow is applied, and a poll follows.
        program.script(statusWithPeers(2));
        const int polls = program.commandNames().count("status");
        link->setAllowInbound(false);
        QTRY_COMPARE(link->peers().size(), 2);
        QTRY_VERIFY(program.commandNames().count("status") > polls);
        QVERIFY(!link->lastError());
    }

    void sleepGuardFollowsTheSwitchThePowerAndTheLink()
    {
        link->setAllowInbound(true); // stopped: no lock
        QVERIFY(!inhibitor.held);
        allowInbound = true;
        QVERIFY(startRunning());
        QVERIFY(inhibitor.held);
        link->setAllowInbound(true);
        QCOMPARE(inhibitor.holds, 1);
        QVERIFY(log().contains(QStringLiteral("不自动睡眠：已开启（接着电源，允许连接开着）")));

        inhibitor.mains = false; // unplugged: released at the next applied status
        link->poll();
        QTRY_VERIFY(!inhibitor.held);
        QVERIFY(log().contains(QStringLiteral("不自动睡眠：已释放")));
        inhibitor.mains = true;
        link->setAllowInbound(true);
        QCOMPARE(inhibitor.holds, 2);
        inhibitor.drop(); // the system dropped it: asked for again at the next update
        link->setAllowInbound(true);
        QCOMPARE(inhibitor.holds, 3);
        // The setting changes first, as in the app: an answer already back is applied inside the call.
        allowInbound = false;
        link->setAllowInbound(false);
        QVERIFY(!inhibitor.held);
        QVERIFY(log().contains(QStringLiteral("设备互联：允许其他设备连接 = false")));
    }

    // A lock the system refuses after the request is never reported as taken, however often it is asked.
    void refusedSleepLockIsNotLogged()
    {
        inhibitor.refuseLater = true;
        allowInbound = true;
        const qsizetype before = data.logLines().size();
        QVERIFY(startRunning());
        QVERIFY(pollApplied());
        link->setAllowInbound(true);
        QTRY_VERIFY(inhibitor.holds >= 3);
        QTest::qWait(0);
        QVERIFY(!link->sleepGuardActive());
        QVERIFY(!data.logLines().mid(before).join('\n').contains(QStringLiteral("不自动睡眠")));
    }

    void networkChangesAreCoalesced()
    {
        QVERIFY(startRunning());
        network.report("eth0|satisfied"); // the first report is no change
        network.report("eth0,wlan0|satisfied");
        network.report("wlan0|satisfied");
        network.report("wlan0|satisfied");
        QTRY_COMPARE(program.commandNames().count("netchange"), 1);
        QVERIFY(log().contains(QStringLiteral("设备互联：网络变化，通知 tarnel-net 重新收集候选")));
        link->poll();
        QTRY_COMPARE(program.commandNames().last(), QStringLiteral("status"));
        QCOMPARE(program.commandNames().count("netchange"), 1);
    }

    void renameChecksBeforeSending_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("alias");
        QTest::addColumn<QString>("failure");
        const QString aliasText = QStringLiteral("别名只能是 qx- 加小写字母、数字、短横，最长 24 个字符");
        const QString nameText = QStringLiteral("名字 1～40 个字符");
        QTest::newRow("valid, blanks trimmed") << " \t书房 电脑 " << "qx-study-1" << QString();
        QTest::newRow("40 characters") << QString(40, QChar(0x4e00)) << "qx-a" << QString();
        QTest::newRow("capital in alias") << "a" << "qx-Study" << aliasText;
        QTest::newRow("line feed after alias") << "a" << "qx-a\n" << aliasText;
        QTest::newRow("41 characters") << QString(41, 'n') << "qx-a" << nameText;
        QTest::newRow("blanks only") << " \t " << "qx-a" << nameText;
        // Names that read like another name, or like none, are refused saying why.
        const QString hiddenText = QStringLiteral("名字里不能有看不见的控制字符、格式字符或换行");
        QTest::newRow("right-to-left override") << QStringLiteral("书房\u202Etxt.exe") << "qx-a" << hiddenText;
        QTest::newRow("stacked combining marks") << QStringLiteral("a") + QString(6, QChar(0x0300)) << "qx-a"
                                                 << QStringLiteral("名字里叠加的符号太多了");
        QTest::newRow("two combining marks") << QStringLiteral("Vie\u0323\u0302t") << "qx-a" << QString();
        QTest::newRow("Arabic letter mark") << QStringLiteral("a\u061Cb") << "qx-a" << hiddenText;
        QTest::newRow("right-to-left mark") << QStringLiteral("a\u200Fb") << "qx-a" << hiddenText;
        QTest::newRow("zero-width space") << QStringLiteral("a\u200Bb") << "qx-a" << hiddenText;
        QTest::newRow("byte order mark") << QStringLiteral("a\uFEFFb") << "qx-a" << hiddenText;
        QTest::newRow("line separator") << QStringLiteral("a\u2028b") << "qx-a" << hiddenText;
        QTest::newRow("tag characters") << QStringLiteral("a") + QString::fromUcs4(U"\U000E0041\U000E007F") << "qx-a" << hiddenText;
        QTest::newRow("filler alone") << QStringLiteral("\u3164") << "qx-a" << QStringLiteral("名字里没有看得见的字");
        QTest::newRow("joined emoji") << QString::fromUcs4(U"\U0001F469\u200D\U0001F4BB") << "qx-a" << QString();
        QTest::newRow("40 emoji") << QString::fromUcs4(U"\U0001F600").repeated(40) << "qx-a" << QString();
        QTest::newRow("lone surrogate") << QStringLiteral("a") + QChar(0xDC00) << "qx-a" << QStringLiteral("名字里有无效的字符");
    }
    void renameChecksBeforeSending()
    {
        QFETCH(QString, name);
        QFETCH(QString, alias);
        QFETCH(QString, failure);
        QVERIFY(startRunning());
        const auto result = awaitFuture(link->rename(name, alias));
        QVERIFY(result);
        QCOMPARE(result->ok() ? QString() : result->failure(), failure);
        QCOMPARE(program.commandNames().count("rename"), failure.isEmpty() ? 1 : 0);
        if (failure.isEmpty()) {
            const QJsonObject sent = program.commands().at(program.commandNames().lastIndexOf("rename"));
            QCOMPARE(sent["name"].toString(), name.trimmed());
            QCOMPARE(sent["alias"].toString(), alias);
        }
    }

    // After a removal the link program hears of it at once, so it and the other devices drop that
    // device's tunnels instead of waiting for their next sync.
    void removalTellsTheLinkProgram()
    {
        AccountServiceFixture service;
        QVERIFY2(service.start(), qPrintable(service.error()));
        QXServer::useURLs(service.url(), QUrl());
        service.script(QStringLiteral("api/device/p0/remove"), {{"status", 200}, {"body", "{}"}});
        QVERIFY(startRunning());
        const auto removed = awaitFuture(link->remove(named(QStringLiteral("p0"), QStringLiteral("Box"), QStringLiteral("qx-box"), true)));
        QVERIFY(removed && removed->ok());
        QTRY_VERIFY(program.commandNames().contains(QStringLiteral("devices")));
    }

    void pollsOneAtATimeAndShowsErrorsOnlyWhileRunning()
    {
        LinkManager::Intervals patient = quick();
        patient.relaunchMs = 60000; // the killed program stays down
        make(patient);
        QVERIFY(startRunning());
        QJsonObject slow = statusWithPeers(1);
        slow["delayMs"] = 300;
        program.script(slow);
        const int before = program.commandNames().count("status");
        QSignalSpy applied(link.get(), &LinkManager::statusApplied);
        link->poll();
        link->poll();
        QVERIFY(applied.wait(5000));
        QCOMPARE(program.commandNames().count("status"), before + 1);

        QJsonObject failing = statusWithPeers(1);
        failing["replies"] = QJsonObject{{"status", QJsonObject{{"error", "令牌过期"}}}};
        program.script(failing);
        link->poll();
        QTRY_COMPARE(link->lastError().value_or(QString()), QStringLiteral("令牌过期"));

        ::kill(pid_t(runningPid()), SIGKILL);
        QTRY_VERIFY(link->pendingRelaunchMs().has_value());
        // A poll of a loaded machine may have timed out before the kill: what counts is that polling the
        // stopped program changes nothing.
        const QDateTime polledBefore = *link->lastPollAt();
        const QString errorBefore = link->lastError().value_or(QString());
        QVERIFY(!errorBefore.isEmpty());
        link->poll();
        QTRY_VERIFY(*link->lastPollAt() != polledBefore);
        QCOMPARE(link->lastError().value_or(QString()), errorBefore);
        QCOMPARE(link->peers().size(), 1);

        link->stop(QStringLiteral("测试"));
        const int sent = program.commands().size();
        link->poll();
        QCoreApplication::processEvents();
        QCOMPARE(program.commands().size(), sent);
    }

    void identicalDocumentsRepublishTheStatusButNotThePeers()
    {
        program.script(statusWithPeers(2));
        QVERIFY(startRunning());
        QSignalSpy peers(link.get(), &LinkManager::peersChanged);
        const QDateTime first = *link->lastPollAt();
        QVERIFY(pollApplied());
        QVERIFY(pollApplied());
        QVERIFY(*link->lastPollAt() > first);
        QCOMPARE(peers.count(), 0);
        program.script(statusWithPeers(3));
        QVERIFY(pollApplied());
        QCOMPARE(peers.count(), 1);
    }

    void peersAreSortedOnlineFirstThenByShownName_data()
    {
        QTest::addColumn<QList<PeerDevice>>("document");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("online first, numbers by value")
            << QList<PeerDevice>{named("1", "b", "", false), named("2", "a", "", false), named("3", "Mac 10", "", true),
                                 named("4", "Mac 9", "", true)}
            << QStringList{"4", "3", "2", "1"};
        QTest::newRow("case ignored") << QList<PeerDevice>{named("1", "beta", "", true), named("2", "Alpha", "", true),
                                                           named("3", "ALPHA 2", "", true)}
                                      << QStringList{"2", "3", "1"};
        QTest::newRow("empty name sorts by alias") << QList<PeerDevice>{named("1", "m", "", true), named("2", "", "qx-a", true)}
                                                   << QStringList{"1", "2"};
        QTest::newRow("equal names keep the document order")
            << QList<PeerDevice>{named("1", "Box", "", true), named("2", "box", "", true), named("3", "Box", "", true)}
            << QStringList{"1", "2", "3"};
    }
    void peersAreSortedOnlineFirstThenByShownName()
    {
        QFETCH(QList<PeerDevice>, document);
        QFETCH(QStringList, order);
        QStringList ids;
        for (const PeerDevice& p : LinkManager::sortedPeers(document))
            ids << p.id;
        QCOMPARE(ids, order);
    }

    void authorizedKeysAreMatchedByTheirKeyData_data()
    {
        QTest::addColumn<QString>("authorizedKeys");
        QTest::addColumn<bool>("found");
        const QString data = QStringLiteral("AAAAC3NzaC1lZDI1NTE5AAAAIPeer");
        QTest::newRow("options before the key") << "restrict,command=\"echo hi\" ssh-ed25519 " + data + " lee@box" << true;
        QTest::newRow("another type word, same data") << "ssh-rsa " + data << true;
        QTest::newRow("CRLF lines, several blanks") << "ssh-ed25519 other\r\n   ecdsa-sha2-nistp256    " + data + "\r\n" << true;
        QTest::newRow("tab between type and data") << "ssh-ed25519\t" + data << false;
        QTest::newRow("type word last, key on a later word") << "from=x ssh-ed25519\nnothing " + data << false;
        QTest::newRow("only the first type word counts") << "ssh-ed25519 other ssh-ed25519 " + data << false;
        QTest::newRow("empty") << QString() << false;
    }
    void authorizedKeysAreMatchedByTheirKeyData()
    {
        QFETCH(QString, authorizedKeys);
        QFETCH(bool, found);
        PeerDevice peer = named("p1", "a", "qx-a", true);
        peer.sshPubKey = QStringLiteral("whatever AAAAC3NzaC1lZDI1NTE5AAAAIPeer comment");
        PeerDevice keyless = named("p2", "b", "qx-b", true);
        const QSet<QString> ids = LinkManager::authorizedKeyIDs(authorizedKeys, {peer, keyless});
        QCOMPARE(ids, found ? QSet<QString>{"p1"} : QSet<QString>{});
    }

    void includeCountsOnlyBeforeTheFirstHostOrMatch_data()
    {
        QTest::addColumn<QString>("config");
        QTest::addColumn<bool>("included");
        const QString path = QStringLiteral("/home/u/.local/share/tarnel/ssh_config_devices");
        QTest::newRow("indented, upper case, quoted") << "\t  INCLUDE \"" + path + "\"\n" << true;
        QTest::newRow("after comments and blank lines") << "# mine\n\n  \nInclude " + path << true;
        QTest::newRow("after Host *") << "Host *\n  ServerAliveInterval 5\nInclude " + path << false;
        QTest::newRow("after Match with a tab") << "Match\tall\nInclude " + path << false;
        QTest::newRow("commented out") << "#Include " + path << false;
        QTest::newRow("another file") << "Include ~/.ssh/other" << false;
        QTest::newRow("Hostname is no block") << "Hostname x\nInclude " + path << true;
    }
    void includeCountsOnlyBeforeTheFirstHostOrMatch()
    {
        QFETCH(QString, config);
        QFETCH(bool, included);
        QCOMPARE(LinkManager::configIncludesDevices(config, QStringLiteral("/home/u/.local/share/tarnel/ssh_config_devices")),
                 included);
    }

    void newDevicesAreNoticedAfterTheFirstRun()
    {
        const int noticed = log().count(QStringLiteral("设备互联：新设备"));
        program.script(statusWithPeers(0));
        QVERIFY(startRunning());
        QCOMPARE(seenSaves, 0); // an empty list saves nothing

        program.script(statusWithPeers(3));
        QVERIFY(pollApplied());
        QCOMPARE(seen, (QStringList{"p0", "p1", "p2"}));
        QVERIFY(newDevices.isEmpty());
        QCOMPARE(log().count(QStringLiteral("设备互联：新设备")), noticed);

        program.script(statusWithPeers(4));
        QVERIFY(pollApplied());
        QVERIFY(pollApplied());
        QCOMPARE(newDevices, QStringList{"p3"});
        QCOMPARE(seen, (QStringList{"p0", "p1", "p2", "p3"}));
        QCOMPARE(log().count(QStringLiteral("设备互联：新设备")), noticed + 1);
        QCOMPARE(seenSaves, 2);
    }

    void pollReadsTheLocalSshState()
    {
        QTcpServer sshd;
        QVERIFY(sshd.listen(QHostAddress::LocalHost));
        link->sshdPort = sshd.serverPort();
        PeerDevice peer = PeerRecords::usable("p1", "qx-p1");
        ScriptHome home;
        link->sshDirectory = home.file(".ssh");
        home.write(".ssh/authorized_keys", "restrict " + peer.sshPubKey.toUtf8() + "\n");
        home.write(".ssh/config", "Include \"" + LinkManager::devicesConfigPath().toUtf8() + "\"\nHost *\n");
        allowInbound = true;
        program.script(PeerRecords::script({peer}));
        QVERIFY(startRunning());
        QVERIFY(pollApplied());
        QVERIFY(link->sshdListening());
        QCOMPARE(link->authorizedKeyIDs(), QSet<QString>{"p1"});
        QVERIFY(link->sshConfigIncluded());

        allowInbound = false; // no probe: the listening server is not reported
        QVERIFY(QFile::remove(home.file(".ssh/config")));
        QVERIFY(pollApplied());
        QVERIFY(!link->sshdListening());
        QVERIFY(!link->sshConfigIncluded());
    }

    void deviceFilesAreRewrittenOnlyWhenThePeerSetChanges()
    {
        QFile::remove(LinkManager::devicesConfigPath());
        program.script(statusWithPeers(0));
        QVERIFY(startRunning()); // the first document writes even an empty set
        QCOMPARE(fileMode(LinkManager::devicesConfigPath()), 0600);
        QCOMPARE(fileMode(LinkManager::devicesKnownHostsPath()), 0600);
        const int earlier = log().count(QStringLiteral("设备互联：ssh_config_devices 已更新")) - 1;
        const auto writes = [&] { return log().count(QStringLiteral("设备互联：ssh_config_devices 已更新")) - earlier; };
        QCOMPARE(writes(), 1);

        const PeerDevice a = PeerRecords::usable("a1", "qx-a");
        PeerDevice b = PeerRecords::usable("b1", "qx-b");
        PeerDevice hostile = PeerRecords::usable("h1", "qx-h");
        hostile.sshUser = QStringLiteral("x\nMatch exec true");
        const QList<std::tuple<const char*, QList<PeerDevice>, int>> steps{
            {"two peers and a hostile one", {a, b, hostile}, 2},
            {"another order", {b, hostile, a}, 2},
            {"a new name", {[&] { PeerDevice c = a; c.name = "renamed"; c.online = false; return c; }(), b, hostile}, 2},
            {"a new client key", {a, [&] { PeerDevice c = b; c.sshPubKey = PeerRecords::freshKeyLine(); return c; }(), hostile}, 3},
        };
        for (const auto& [what, peers, expected] : steps) {
            program.script(PeerRecords::script(peers));
            QVERIFY(pollApplied());
            QVERIFY2(writes() == expected, what);
        }
        QVERIFY(log().contains(QStringLiteral("设备互联：ssh_config_devices 已更新（3 台）")));
        const QString config = QString::fromUtf8(readFile(LinkManager::devicesConfigPath()));
        QCOMPARE(config.count(QStringLiteral("\nHost ")), 2);
        QVERIFY(!config.contains(QStringLiteral("Match")));
        QVERIFY(QString::fromUtf8(readFile(LinkManager::devicesKnownHostsPath())).contains(a.hostPubKey.section(' ', 0, 1)));
        QCOMPARE(log().count(QStringLiteral("设备互联：「qx-h」的设备记录不安全（登录名不合规），不写进 ssh_config_devices")), 1);
    }

    // A failure that repeats at every poll is logged again each minute, not only the first time.
    void repeatedFilesFailureIsLoggedEachMinute()
    {
        FakeClock clock(QDateTime(QDate(2026, 3, 1), QTime(9, 0)));
        QFile::remove(LinkManager::devicesConfigPath());
        QVERIFY(QDir().mkpath(LinkManager::devicesConfigPath())); // a folder where the file goes: every write fails
        const auto failures = [&] { return log().count(QStringLiteral("设备互联：写 ssh_config_devices 失败 ")); };
        const int before = failures();
        program.script(statusWithPeers(1));
        QVERIFY(startRunning());
        QCOMPARE(failures(), before + 1);
        clock.advance(30);
        QVERIFY(pollApplied());
        QCOMPARE(failures(), before + 1);
        clock.advance(31);
        QVERIFY(pollApplied());
        QCOMPARE(failures(), before + 2);

        QVERIFY(QDir(LinkManager::devicesConfigPath()).removeRecursively());
        QVERIFY(pollApplied());
        QVERIFY(QFileInfo(LinkManager::devicesConfigPath()).isFile());
        QCOMPARE(failures(), before + 2);
    }

    void noProgramOutlivesTheApp()
    {
        program.script({{"ignoreTerm", true}, {"stayOnQuit", true}});
        const qint64 pid = startRunning();
        QVERIFY(pid);
        link.reset(); // the application's exit
        QVERIFY(!processAlive(pid));
        QVERIFY(log().contains(QStringLiteral("设备互联：停止（app 退出）")));
    }
    void keyAllowLineAddsOnlyTheKey_data()
    {
        QTest::addColumn<QByteArray>("before"); // "-" for no ~/.ssh at all
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("shown");
        const QString key = QStringLiteral("ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIHzSgYF client");
        QTest::newRow("no .ssh yet") << QByteArray("-") << QStringLiteral("书房") << key << QStringLiteral("书房");
        QTest::newRow("last line without line feed") << QByteArray("ssh-rsa AAAAold old@x") << QStringLiteral("书房") << key << QStringLiteral("书房");
        QTest::newRow("empty file") << QByteArray("") << QStringLiteral("书房") << key << QStringLiteral("书房");
        QTest::newRow("hostile name") << QByteArray("ssh-rsa AAAAold old@x\n") << QStringLiteral("x'; touch pwned; echo '")
                                      << key << QStringLiteral("x; touch pwned; echo ");
        QTest::newRow("name with a line break") << QByteArray("ssh-rsa AAAAold old@x\n") << QStringLiteral("a\ntouch pwned\r")
                                                << key << QStringLiteral("atouch pwned");
        QTest::newRow("hostile key") << QByteArray("ssh-rsa AAAAold old@x\n") << QString()
                                     << key + QStringLiteral("'$(touch pwned)'\n") << QStringLiteral("qx-study");
    }
    void keyAllowLineAddsOnlyTheKey()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, name);
        QFETCH(QString, key);
        QFETCH(QString, shown);
        ScriptHome home;
        if (before != "-")
            home.write(QStringLiteral(".ssh/authorized_keys"), before);
        PeerDevice peer;
        peer.name = name;
        peer.alias = QStringLiteral("qx-study");
        peer.sshPubKey = key;
        const ScriptHome::Run run = home.shell(LinkManager::keyAddCommand(peer));
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, QStringLiteral("已允许 %1 免密登录这台电脑\n").arg(shown));
        const QString keys = QString::fromUtf8(readFile(home.file(QStringLiteral(".ssh/authorized_keys"))));
        QString expected = before == "-" ? QString() : QString::fromUtf8(before);
        if (!expected.isEmpty() && !expected.endsWith(QLatin1Char('\n')))
            expected += QLatin1Char('\n');
        QCOMPARE(keys, expected + PeerDevice::plain(key).remove(QLatin1Char('\'')) + QLatin1Char('\n'));
        QCOMPARE(fileMode(home.file(QStringLiteral(".ssh/authorized_keys"))), 0600);
        QCOMPARE(fileMode(home.file(QStringLiteral(".ssh"))), 0700);
        QVERIFY(!QFile::exists(home.file(QStringLiteral("pwned"))));
    }
};

QTEST_GUILESS_MAIN(LinkManagerTest)
#include "LinkManagerTest.moc"
