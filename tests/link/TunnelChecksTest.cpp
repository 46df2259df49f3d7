// The ssh checks of linked machines: how a failed check reads, the gates, and when wanted machines are
// checked again by themselves, with an injected ssh runner and clock.
#include "link/TunnelChecks.h"
#include "support/FakeClock.h"
#include "support/TempDataDir.h"

#include <QPromise>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(CommandResult)
Q_DECLARE_METATYPE(PeerDevice)

class TunnelChecksTest : public QObject {
    Q_OBJECT
    TempDataDir data;

    // A runner whose checks stay under way until the test answers them.
    struct Runner {
        std::vector<std::shared_ptr<QPromise<CommandResult>>> pending;
        QList<QStringList> calls;

        TunnelChecks::Runner function()
        {
            return [this](const QStringList& args, double) {
                calls << args;
                auto promise = std::make_shared<QPromise<CommandResult>>();
                promise->start();
                pending.push_back(promise);
                return promise->future();
            };
        }
        void answer(const CommandResult& result)
        {
            const auto promise = pending.front();
            pending.erase(pending.begin());
            promise->addResult(result);
            promise->finish();
        }
    };

    static CommandResult failure(const QString& err, int status = 255, bool timedOut = false)
    {
        return {.status = status, .stderr = err, .timedOut = timedOut};
    }

    static PeerDevice peer(const QString& id = QStringLiteral("dev-b"))
    {
        return {.id = id, .name = "书房", .alias = "qx-study", .sshUser = "lee", .remoteAccess = true, .online = true,
                .link = LinkStatus{.state = "connected"}};
    }

    struct Rig {
        Runner runner;
        TunnelChecks checks;
        QList<QStringList> saved;
        QList<QString> opened;
        Rig()
        {
            checks.runner = runner.function();
            checks.configPath = [] { return QStringLiteral("/data/ssh_config_devices"); };
            checks.saveWanted = [this](const QStringList& ids) { saved << ids; };
            checks.onOpened = [this](const PeerDevice& p) { opened << p.id; };
        }
        // Lets the continuation of an answered check run.
        bool settled(const QString& id)
        {
            return QTest::qWaitFor([&] { return checks.tunnel(peer(id)).kind != Tunnel::Kind::checking; }, 5000);
        }
    };

    QString log() const { return data.logLines().join(QLatin1Char('\n')); }

private Q_SLOTS:
    void failedChecksRead_data()
    {
        QTest::addColumn<CommandResult>("result");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("needsKey");
        const QString key = QStringLiteral("对方还没允许你免密登录：请他在那台 tarnel 的「设备」页，点你这台下面的「允许它免密登录这台电脑」");
        const QString hostKey = QStringLiteral("对方电脑的主机钥匙和记录不一致，为安全起见没有连");
        const QString link = QStringLiteral("两台之间的连接还没建好，等几秒再点一次");
        QTest::newRow("refused key, any case") << failure("lee@qx-study: PERMISSION denied (publickey).\r\n") << key << true;
        QTest::newRow("host key") << failure("Host key verification failed.\n") << hostKey << false;
        // ssh's warning box comes first; the verdict follows further down.
        QTest::newRow("changed host key") << failure("@@@@@@@@@@@@\n@    WARNING: REMOTE HOST IDENTIFICATION HAS CHANGED!     @\n"
                                                  "Host key verification failed.\n")
                                         << hostKey << false;
        QTest::newRow("time-out") << failure("", -1, true) << QStringLiteral("对方没有响应（超时），等几秒再试") << false;
        QTest::newRow("key beats time-out") << failure("Permission denied", -1, true) << key << true;
        QTest::newRow("dial's words") << failure("tarnel-net：对方不在线") << link << false;
        QTest::newRow("empty 255") << failure("") << QStringLiteral("没连上：退出码 255") << false;
        QTest::newRow("first non-empty line only")
            << failure("\n\r\x0bkex_exchange_identification: read: Connection reset\nPermission denied")
            << QStringLiteral("没连上：kex_exchange_identification: read: Connection reset") << false;
        QTest::newRow("line break U+2028") << failure(QStringLiteral("前\u2028Permission denied"))
                                          << QStringLiteral("没连上：前") << false;
        QTest::newRow("not started") << failure(QStringLiteral("无法启动 /usr/bin/ssh：No such file"), -1)
                                    << QStringLiteral("没连上：无法启动 /usr/bin/ssh：No such file") << false;
        // 100 user-perceived characters, each an e with a combining accent (two code units).
        const QString accented = QStringLiteral("e\u0301").repeated(150);
        QTest::newRow("long line") << failure(accented) << QStringLiteral("没连上：") + accented.left(200) << false;
    }
    void failedChecksRead()
    {
        QFETCH(CommandResult, result);
        QFETCH(QString, message);
        QFETCH(bool, needsKey);
        const TunnelChecks::Classified c = TunnelChecks::classify(result);
        QCOMPARE(c.message, message);
        QCOMPARE(c.needsKey, needsKey);
    }

    void gatesRefuseWithoutSsh_data()
    {
        QTest::addColumn<PeerDevice>("device");
        QTest::addColumn<QString>("message");
        const auto with = [](auto change) {
            PeerDevice p = peer();
            change(p);
            return p;
        };
        const QString notYet = QStringLiteral("两台之间的连接还没建好，等几秒再点");
        const QString incomplete = QStringLiteral("这台设备的信息还不完整（别名 / 登录名），等它上线后再试");
        QTest::newRow("offline") << with([](PeerDevice& p) { p.online = false; }) << QStringLiteral("对方不在线");
        QTest::newRow("inbound off") << with([](PeerDevice& p) { p.remoteAccess = false; })
            << QStringLiteral("对方没允许被连接：请他在那台 tarnel 的「设备」页拨开「允许其他设备连接这台电脑」");
        QTest::newRow("no link") << with([](PeerDevice& p) { p.link.reset(); }) << notYet;
        QTest::newRow("link connecting") << with([](PeerDevice& p) { p.link->state = "connecting"; }) << notYet;
        QTest::newRow("no login name") << with([](PeerDevice& p) { p.sshUser.clear(); }) << incomplete;
        QTest::newRow("alias a host name") << with([](PeerDevice& p) { p.alias = "study.example.com"; }) << incomplete;
        QTest::newRow("hostile login name") << with([](PeerDevice& p) { p.sshUser = "-oProxyCommand=sh"; }) << incomplete;
    }
    void gatesRefuseWithoutSsh()
    {
        QFETCH(PeerDevice, device);
        QFETCH(QString, message);
        Rig rig;
        const int lines = data.logLines().size();
        rig.checks.open(device, false);
        QCOMPARE(rig.checks.tunnel(device), Tunnel::failed(message, false));
        QVERIFY(rig.runner.calls.isEmpty());
        QCOMPARE(rig.saved, QList<QStringList>{{device.id}}); // wanted all the same: opened once it can be
        QCOMPARE(data.logLines().size(), lines);
    }

    void wantedMachinesAreCheckedAgainWithGrowingWaits()
    {
        FakeClock clock(QDateTime(QDate(2026, 3, 1), QTime(9, 0)));
        Rig rig;
        PeerDevice p = peer();
        p.online = false;
        rig.checks.open(p, false); // offline: wanted, failed, re-checked once its link is up
        p.online = true;
        QList<int> checkedAt;
        for (int second = 0; second <= 180; ++second) {
            rig.checks.reconcile({p});
            if (!rig.runner.pending.empty()) {
                checkedAt << second;
                rig.runner.answer(failure("ssh: connect to host qx-study port 22: Connection refused"));
                QVERIFY(rig.settled(p.id));
            }
            clock.advance(1);
        }
        QCOMPARE(checkedAt, (QList<int>{0, 8, 24, 56, 116, 176}));
        QVERIFY(log().contains(QStringLiteral("设备互联：链路已恢复，自动重新打通 → 书房")));

        // The user's own open starts over: the next automatic check follows at once.
        rig.checks.open(p, false);
        rig.runner.answer(failure("Connection refused"));
        QVERIFY(rig.settled(p.id));
        rig.checks.reconcile({p});
        QCOMPARE(rig.runner.pending.size(), size_t(1));
        // A refused key is never retried by itself.
        rig.runner.answer(failure("Permission denied (publickey)."));
        QVERIFY(rig.settled(p.id));
        clock.advance(600);
        rig.checks.reconcile({p});
        QVERIFY(rig.runner.pending.empty());
        QVERIFY(rig.checks.tunnel(p).needsKey);
    }

    void lostLinkReconnectsAndRecoversAtOnce()
    {
        FakeClock clock(QDateTime(QDate(2026, 3, 1), QTime(9, 0)));
        Rig rig;
        PeerDevice p = peer();
        p.link->peerPath = QStringLiteral("relay"); // either side relayed: the relay label
        rig.checks.open(p, false);
        QCOMPARE(rig.runner.calls.value(0).mid(0, 2), (QStringList{"-F", "/data/ssh_config_devices"}));
        rig.runner.answer(failure("", 0));
        QVERIFY(rig.settled(p.id));
        QCOMPARE(rig.checks.tunnel(p), Tunnel::open(QStringLiteral("relay"), clock.now()));

        PeerDevice lost = p;
        lost.link->state = QStringLiteral("disconnected");
        clock.advance(30);
        const QDateTime since = clock.now();
        rig.checks.reconcile({lost});
        QCOMPARE(rig.checks.tunnel(p), Tunnel::reconnecting(QStringLiteral("relay"), since));
        lost.online = false;
        clock.advance(30);
        rig.checks.reconcile({lost});
        QCOMPARE(rig.checks.tunnel(p).at, since); // keeps the first time
        rig.checks.reconcile({}); // missing from the list: left as it is
        QCOMPARE(rig.checks.tunnel(p).kind, Tunnel::Kind::reconnecting);

        rig.checks.reconcile({p});
        QCOMPARE(rig.runner.pending.size(), size_t(1));
        rig.runner.answer(failure("", 0));
        QVERIFY(rig.settled(p.id));
        QVERIFY(log().contains(QStringLiteral("设备互联：SSH 已打通 → 书房（中转，自动恢复）")));
        QCOMPARE(rig.opened.size(), 2);
    }

    // The line of a check that succeeds names the path the link has by then, not the one it had when the
    // check started; an open machine's path follows its link, so a later loss names the path it had last.
    void pathsAreTheLinksOwnWhenWritten()
    {
        Rig rig;
        PeerDevice relayed = peer();
        relayed.link->path = QStringLiteral("relay");
        const PeerDevice direct = peer();
        rig.checks.linkNow = [&](const QString&) { return QtFuture::makeReadyFuture(direct.link); };
        rig.checks.open(relayed, false);
        rig.runner.answer(failure("", 0));
        QVERIFY(rig.settled(relayed.id));
        QVERIFY2(log().contains(QStringLiteral("设备互联：SSH 已打通 → 书房（直连）")), qPrintable(log()));
        QCOMPARE(rig.checks.tunnel(relayed).path, QStringLiteral("direct"));

        rig.checks.reconcile({relayed});
        QCOMPARE(rig.checks.tunnel(relayed).path, QStringLiteral("relay"));
        rig.checks.reconcile({direct});
        PeerDevice lost = direct;
        lost.link->state = QStringLiteral("disconnected");
        rig.checks.reconcile({lost});
        QCOMPARE(rig.checks.tunnel(lost).kind, Tunnel::Kind::reconnecting);
        QCOMPARE(rig.checks.tunnel(lost).path, QStringLiteral("direct"));
    }

    void closingKeepsTheRunningCheck()
    {
        Rig rig;
        const PeerDevice p = peer();
        const PeerDevice other = peer(QStringLiteral("dev-a"));
        rig.checks.open(p, false);
        rig.checks.open(other, false);
        QCOMPARE(rig.saved.last(), (QStringList{"dev-a", "dev-b"}));
        rig.checks.close(p);
        QCOMPARE(rig.checks.tunnel(p), Tunnel::idle());
        QCOMPARE(rig.saved.last(), QStringList{"dev-a"});
        rig.runner.answer(failure("", 0)); // succeeds after the close: its outcome replaces idle
        rig.runner.answer(failure("", 0));
        QTRY_COMPARE(rig.opened, (QStringList{p.id, other.id}));
        QCOMPARE(rig.checks.tunnel(p).kind, Tunnel::Kind::open);
        QCOMPARE(rig.saved.last(), QStringList{"dev-a"}); // still not wanted
        // Not wanted any more: not checked again by itself.
        rig.checks.close(p);
        rig.checks.reconcile({p});
        QVERIFY(rig.runner.pending.empty());
        rig.checks.close(p);
        QCOMPARE(rig.saved.size(), 3); // the closes after the first changed nothing to save
    }
};

QTEST_GUILESS_MAIN(TunnelChecksTest)
#include "TunnelChecksTest.moc"
