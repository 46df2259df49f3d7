// The devices page's texts: this machine's line, the online and offline lists, the footer, the set-up steps.
#include "ui/devices/DevicesPageModel.h"

#include <QtTest>

Q_DECLARE_METATYPE(PeerDevice)

namespace {
PeerDevice peer(const QString& id, const QString& name, bool online, bool key = false, int inbound = 0)
{
    PeerDevice p{.id = id, .name = name, .alias = "qx-" + id, .online = online};
    if (key)
        p.sshPubKey = QStringLiteral("ssh-ed25519 AAAA ") + id;
    if (inbound)
        p.link = LinkStatus{.inboundTunnels = inbound};
    return p;
}

DevicesPageFacts running(QList<PeerDevice> peers)
{
    return {.available = true, .helper = LinkManager::Helper::running(4242), .peers = std::move(peers)};
}
} // namespace

class DevicesPageModelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void selfStatusLine_data()
    {
        QTest::addColumn<int>("fixture");
        QTest::addColumn<QString>("line");
        QTest::newRow("program not running") << 0 << "设备互联未启动";
        QTest::newRow("no other machine") << 1 << "设备互联运行中 · 账号下另有 0 台设备，0 台在线";
        QTest::newRow("site down, two connected in, one of them offline") << 2
            << "设备互联运行中 · 账号下另有 3 台设备，1 台在线；官网：连不上；此刻 客厅、qx-b 正连着这台电脑";
    }
    void selfStatusLine()
    {
        QFETCH(int, fixture);
        QFETCH(QString, line);
        DevicesPageFacts f = running({});
        if (fixture == 0)
            f.helper = LinkManager::Helper::stopped();
        if (fixture == 2) {
            f.peers = {peer(QStringLiteral("a"), QStringLiteral("客厅"), true, false, 1),
                peer(QStringLiteral("b"), QString(), false, false, 2), peer(QStringLiteral("c"), QStringLiteral("c"), false)};
            NodeStatus status;
            status.site = SiteStatus{false, QStringLiteral("连不上"), {}};
            f.status = status;
        }
        QCOMPARE(DevicesPageModel(f).selfStatusLine(), line);
    }

    void thisMachineIsNamedByTheLinkElseByTheHost()
    {
        DevicesPageFacts f = running({});
        f.hostName = QStringLiteral("box");
        QCOMPARE(DevicesPageModel(f).selfName(), QStringLiteral("box"));
        QVERIFY(!DevicesPageModel(f).selfAlias());
        f.status = NodeStatus{};
        QCOMPARE(DevicesPageModel(f).selfName(), QString()); // a document's empty name stands
        f.status->device.alias = QStringLiteral("qx-box");
        QCOMPARE(*DevicesPageModel(f).selfAlias(), QStringLiteral("qx-box"));
    }

    void offlineState_data()
    {
        QTest::addColumn<QString>("lastSeen");
        QTest::addColumn<QString>("text");
        QTest::newRow("ISO with seconds and zone") << "2025-03-14T09:05:07+08:00" << "离线 · 最后在线 2025-03-14 09:05";
        QTest::newRow("short") << "昨天" << "离线 · 最后在线 昨天";
        QTest::newRow("empty") << "" << "离线";
    }
    void offlineState()
    {
        QFETCH(QString, lastSeen);
        QFETCH(QString, text);
        PeerDevice p = peer(QStringLiteral("a"), QString(), false);
        p.lastSeen = lastSeen;
        QCOMPARE(DevicesPageModel::offlineState(p), text);
    }

    void emptyStateAndLists()
    {
        DevicesPageFacts f = running({});
        QCOMPARE(DevicesPageModel(f).onlineHeader(), QStringLiteral("其他在线设备 0"));
        QCOMPARE(DevicesPageModel(f).emptyTitle(), QStringLiteral("还没有别的设备"));
        f.peers = {peer(QStringLiteral("a"), QStringLiteral("A"), false), peer(QStringLiteral("b"), QStringLiteral("B"), false)};
        const DevicesPageModel model(f);
        QCOMPARE(model.emptyTitle(), QStringLiteral("别的设备都不在线"));
        QCOMPARE(model.offlinePeers().size(), 2);
        QCOMPARE(model.offlineSummary(),
            QStringLiteral("另有 2 台离线，不显示（对方开着 tarnel 并联网就会出现；30 天没上线会自动清掉）"));
    }

    void footerPrefersTheNoticeThenTheError()
    {
        DevicesPageFacts f = running({});
        f.lastPollAt = QDateTime(QDate(2025, 3, 14), QTime(9, 5, 7));
        QCOMPARE(DevicesPageModel(f).footer().text, QStringLiteral("tarnel-net 运行中（pid 4242） · 09:05:07 更新"));
        f.lastError = QStringLiteral("连不上 tarnel-net");
        QCOMPARE(DevicesPageModel(f).footer(), (DevicesPageModel::Text{*f.lastError, QStringLiteral("orange")}));
        f.notice = QStringLiteral("已踢出「A」");
        QCOMPARE(DevicesPageModel(f).footer().text, f.notice);
    }

    // The set-up is complete only with the ssh server up and every online machine that has a key allowed.
    void setupSteps_data()
    {
        QTest::addColumn<bool>("sshd");
        QTest::addColumn<QStringList>("allowed");
        QTest::addColumn<QList<PeerDevice>>("peers");
        QTest::addColumn<bool>("complete");
        QTest::addColumn<QString>("twoDot");
        QTest::addColumn<QString>("twoTitle");
        QTest::addColumn<QString>("missing");
        const QList<PeerDevice> two{peer(QStringLiteral("a"), QStringLiteral("A"), true, true),
            peer(QStringLiteral("b"), QString(), true, true), peer(QStringLiteral("c"), QStringLiteral("C"), true),
            peer(QStringLiteral("d"), QStringLiteral("D"), false, true)};
        const QString title = QStringLiteral("② 允许其他设备免密登录这台电脑");
        QTest::newRow("no machine at all") << true << QStringList() << QList<PeerDevice>() << false << "gray" << title
            << "另一台设备登录同一账号后，会出现在这里。";
        QTest::newRow("only offline or keyless machines") << true << QStringList{QStringLiteral("d")}
            << QList<PeerDevice>{two[2], two[3]} << false << "gray" << title
            << "对方的 tarnel 版本太旧，还没上报钥匙；它更新后会出现在这里。";
        QTest::newRow("only offline machines") << true << QStringList() << QList<PeerDevice>{two[3]} << false << "gray"
            << title << "对方现在不在线；它上线后会出现在这里。";
        QTest::newRow("server on, one of two allowed") << true << QStringList{QStringLiteral("b")} << two << false
            << "orange" << title + QStringLiteral("（1/2 台已允许）") << "";
        QTest::newRow("both allowed, server off") << false << QStringList{QStringLiteral("a"), QStringLiteral("b")} << two
            << false << "green" << title + QStringLiteral("（2/2 台已允许）") << "";
        QTest::newRow("all done") << true << QStringList{QStringLiteral("a"), QStringLiteral("b")} << two << true
            << "green" << title + QStringLiteral("（2/2 台已允许）") << "";
    }
    void setupSteps()
    {
        QFETCH(bool, sshd);
        QFETCH(QStringList, allowed);
        QFETCH(QList<PeerDevice>, peers);
        QFETCH(bool, complete);
        QFETCH(QString, twoDot);
        QFETCH(QString, twoTitle);
        QFETCH(QString, missing);
        DevicesPageFacts f = running(peers);
        f.sshdListening = sshd;
        f.authorizedKeyIDs = QSet<QString>(allowed.begin(), allowed.end());
        const DevicesPageModel model(f);
        QCOMPARE(model.wizardComplete(), complete);
        QCOMPARE(model.stepOneDot(), sshd ? QStringLiteral("green") : QStringLiteral("orange"));
        QCOMPARE(model.stepTwoDot(), twoDot);
        QCOMPARE(model.stepTwoTitle(), twoTitle);
        QCOMPARE(model.stepTwoMissing().value_or(QString()), missing);
        if (complete)
            QCOMPARE(model.doneSummary(), QStringLiteral("别的设备已能连进这台电脑：远程登录已打开 · 已允许 2 台免密登录"));
    }

    void stepOneOffersThePanelElseTheCommand()
    {
        DevicesPageFacts f = running({});
        f.sharingPanel = true;
        QCOMPARE(DevicesPageModel(f).stepOneButton(), QStringLiteral("去系统设置 → 共享"));
        f.sshdListening = true;
        QCOMPARE(DevicesPageModel(f).stepOneButton(), QStringLiteral("去系统设置"));
        f.sharingPanel = false;
        QCOMPARE(DevicesPageModel(f).stepOneButton(), QString());
        f.sshdListening = false;
        QCOMPARE(DevicesPageModel(f).stepOneButton(), QStringLiteral("复制命令"));
        QVERIFY(DevicesPageModel(f).stepOneText().endsWith(QStringLiteral("sudo systemctl enable --now ssh")));
    }
};

QTEST_GUILESS_MAIN(DevicesPageModelTest)
#include "DevicesPageModelTest.moc"
