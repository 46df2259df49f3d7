#include "ui/onboarding/OnboardingModel.h"

#include <QTest>

using Facts = OnboardingModel::Facts;
Q_DECLARE_METATYPE(OnboardingModel::Facts)

namespace {
Server server(const QString& host, std::optional<QString> user, std::optional<QString> absolute)
{
    Server s;
    s.name = host;
    s.host = host;
    s.user = std::move(user);
    s.remoteDir = QStringLiteral("~/tarnel");
    s.setup.remoteDirAbsolute = std::move(absolute);
    return s;
}

Facts facts(bool trusted, PasteMode mode, const QString& target, bool remoteAccess = false, int peers = 0,
            bool connected = false)
{
    Facts f;
    f.trusted = trusted;
    f.settings.pasteMode = mode;
    f.settings.onboardingTarget = target;
    f.settings.remoteAccess = remoteAccess;
    f.peerCount = peers;
    if (connected) {
        f.servers << server(QStringLiteral("box"), QStringLiteral("dev"), QStringLiteral("/home/dev/tarnel"));
        f.connected.insert(f.servers.last().id, true);
    }
    return f;
}
} // namespace

class OnboardingModelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Which steps are done, which one is active, and which frames carry the active fill.
    void stepFlow_data()
    {
        QTest::addColumn<Facts>("f");
        QTest::addColumn<QString>("done");   // steps 1-3, '1' done
        QTest::addColumn<int>("active");
        QTest::addColumn<QString>("filled"); // steps 1-4, '1' active fill
        QTest::addColumn<bool>("allDone");
        const PasteMode type = PasteMode::type, zero = PasteMode::zeroPermission;
        QTest::newRow("fresh") << facts(false, type, {}) << "000" << 1 << "1000" << false;
        QTest::newRow("zero permission counts") << facts(false, zero, {}) << "100" << 2 << "0100" << false;
        QTest::newRow("trusted") << facts(true, type, {}) << "100" << 2 << "0100" << false;
        QTest::newRow("server chosen before step 1") << facts(false, type, "server") << "010" << 1 << "1011" << false;
        QTest::newRow("server not connected") << facts(true, type, "server") << "110" << 3 << "0011" << false;
        QTest::newRow("server connected") << facts(true, type, "server", false, 0, true) << "111" << 4 << "0001" << true;
        QTest::newRow("device, inbound on") << facts(true, type, "device", true) << "111" << 4 << "0001" << true;
        QTest::newRow("device, a peer") << facts(true, type, "device", false, 1) << "111" << 4 << "0001" << true;
        QTest::newRow("device, nothing yet") << facts(true, type, "device") << "110" << 3 << "0011" << false;
        QTest::newRow("none") << facts(true, type, "none") << "111" << 4 << "0001" << true;
        QTest::newRow("unknown target") << facts(true, type, "mac") << "110" << 3 << "0001" << false;
    }
    void stepFlow()
    {
        QFETCH(Facts, f);
        QFETCH(QString, done);
        QFETCH(int, active);
        QFETCH(QString, filled);
        QFETCH(bool, allDone);
        const OnboardingModel m(f);
        QString d, fill;
        for (int n = 1; n <= 3; ++n)
            d += m.frame(n).done ? '1' : '0';
        for (int n = 1; n <= 4; ++n)
            fill += m.frame(n).active ? '1' : '0';
        QCOMPARE(d, done);
        QCOMPARE(m.activeStep(), active);
        QCOMPARE(fill, filled);
        QVERIFY(!m.frame(4).done);
        QCOMPARE(m.footer().startsWith(QStringLiteral("都好了")), allDone);
        // Steps 1, 2 and 4 always show their content; step 3 only once chosen and active or done.
        QVERIFY(m.frame(1).expanded() && m.frame(2).expanded() && m.frame(4).expanded());
        QCOMPARE(m.frame(3).expanded(), m.frame(3).done || m.frame(3).active);
    }

    // The first connected server in list order drives the label and the example line.
    void connectedServerAndExample()
    {
        Facts f = facts(true, PasteMode::type, "server");
        const Server idle = server(QStringLiteral("idle"), QStringLiteral("a"), QStringLiteral("/home/a/tarnel"));
        const Server bare = server(QStringLiteral("bare"), std::nullopt, std::nullopt);
        const Server later = server(QStringLiteral("later"), QStringLiteral("b"), QStringLiteral("/srv/b"));
        f.servers = {idle, bare, later};
        f.connected = {{bare.id, true}, {later.id, true}}; // idle has no status at all
        const OnboardingModel m(f);
        QCOMPARE(m.connectedServer()->id, bare.id);
        QCOMPARE(m.connectedText(bare), QStringLiteral("已连接 @bare，服务器端已准备好（目录 ~/tarnel）"));
        QCOMPARE(m.demoLine(bare), QStringLiteral("shot1: /home/qx/tarnel/shots/20261018-153012-1.png "));
        QCOMPARE(m.demoLine(later), QStringLiteral("shot1: /srv/b/shots/20261018-153012-1.png "));
        QCOMPARE(m.demoLine(std::nullopt), QStringLiteral("shot1: /home/qx/tarnel/shots/20261018-153012-1.png "));
    }

    // Hot keys that do not parse fall back; the example follows the token format.
    void textsFallBack()
    {
        Facts f = facts(false, PasteMode::zeroPermission, "device");
        f.settings.hotkeyPaste = QStringLiteral("3");
        f.settings.hotkeyPanel = QStringLiteral("⇧X");
        f.settings.tokenFormat = QStringLiteral("img%d=%s");
        const OnboardingModel m(f);
        QVERIFY(m.intro().contains(QStringLiteral("Alt+Super+3")));
        QVERIFY(m.accessibilityTitle().contains(QStringLiteral("Alt+Super+3")));
        QVERIFY(m.permissionText().startsWith(QStringLiteral("已选零权限模式：按 Alt+Super+3")));
        QCOMPARE(m.trayTips().count(QStringLiteral("Alt+Super+4")), 2);
        QCOMPARE(m.demoLine(std::nullopt), QStringLiteral("img1=/home/qx/tarnel/shots/20261018-153012-1.png"));
        QVERIFY(m.deviceIntro().contains(QStringLiteral("另有 0 台")));
        // The zero-permission mode wins over a granted permission.
        f.trusted = true;
        QCOMPARE(OnboardingModel(f).permission(), OnboardingModel::Permission::zeroPermission);
    }
};

QTEST_GUILESS_MAIN(OnboardingModelTest)
#include "OnboardingModelTest.moc"
