#include "ui/panel/ServersPageModel.h"

#include <QTest>

Q_DECLARE_METATYPE(QList<SSHSession>)

namespace {
using Kind = ServerRegistry::Status::Kind;

Server server(const QString& host, int port, bool device = false)
{
    Server s;
    s.name = host;
    s.host = host;
    s.port = port;
    if (device)
        s.deviceID = QStringLiteral("peer-1");
    return s;
}

SSHSession session(std::optional<QString> user, const QString& host, std::optional<int> port)
{
    return SSHSession{std::move(user), host, port};
}
} // namespace

class ServersPageModelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void suggestions_data()
    {
        QTest::addColumn<QList<Server>>("servers");
        QTest::addColumn<QList<SSHSession>>("sessions");
        QTest::addColumn<QStringList>("offered");
        const QList<SSHSession> noPort{session(QStringLiteral("alice"), QStringLiteral("DevBox"), std::nullopt)};
        QTest::newRow("no port matches port 22 in any case") << QList<Server>{server(QStringLiteral("devbox"), 22)} << noPort << QStringList{};
        QTest::newRow("listed on another port") << QList<Server>{server(QStringLiteral("devbox"), 2222)} << noPort << QStringList{"alice@DevBox"};
        QTest::newRow("login names differ: both offered")
            << QList<Server>{}
            << QList<SSHSession>{session(QStringLiteral("a"), QStringLiteral("h"), 2200), session(QStringLiteral("b"), QStringLiteral("h"), 2200)}
            << QStringList{"a@h:2200", "b@h:2200"};
        QTest::newRow("port 22 written without port") << QList<Server>{} << QList<SSHSession>{session(std::nullopt, QStringLiteral("h"), 22)} << QStringList{"h"};
        QTest::newRow("IPv6 with a port in brackets")
            << QList<Server>{} << QList<SSHSession>{session(QStringLiteral("alice"), QStringLiteral("fd00::5"), 2200)}
            << QStringList{"alice@[fd00::5]:2200"};
        QTest::newRow("IPv6 added is no longer offered")
            << QList<Server>{server(QStringLiteral("fd00::5"), 2200)}
            << QList<SSHSession>{session(QStringLiteral("alice"), QStringLiteral("fd00::5"), 2200)} << QStringList{};
    }
    void suggestions()
    {
        QFETCH(QList<Server>, servers);
        QFETCH(QList<SSHSession>, sessions);
        QFETCH(QStringList, offered);
        QStringList addresses;
        for (const SSHSession& s : ServersPageModel::suggestions(sessions, servers))
            addresses << s.address();
        QCOMPARE(addresses, offered);
    }

    void barsAndFooter_data()
    {
        QTest::addColumn<bool>("onboardingDone");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<int>("pasteMode");
        QTest::addColumn<int>("bar");
        QTest::newRow("onboarding first") << false << false << int(PasteMode::type) << int(ServersPageModel::Bar::onboarding);
        QTest::newRow("no typing") << true << false << int(PasteMode::type) << int(ServersPageModel::Bar::accessibility);
        QTest::newRow("zero permission needs nothing") << true << false << int(PasteMode::zeroPermission) << int(ServersPageModel::Bar::none);
        QTest::newRow("trusted") << true << true << int(PasteMode::clipboard) << int(ServersPageModel::Bar::none);
    }
    void barsAndFooter()
    {
        QFETCH(bool, onboardingDone);
        QFETCH(bool, trusted);
        QFETCH(int, pasteMode);
        QFETCH(int, bar);
        ServersPageFacts facts;
        facts.settings.onboardingDone = onboardingDone;
        facts.settings.pasteMode = PasteMode(pasteMode);
        facts.accessibilityTrusted = trusted;
        QCOMPARE(int(ServersPageModel(facts).bar()), bar);
    }

    void footerCountsListedConnectedOnly()
    {
        ServersPageFacts facts;
        const Server up = server(QStringLiteral("a"), 22);
        const Server failed = server(QStringLiteral("b"), 22);
        const Server silent = server(QStringLiteral("c"), 22);
        const Server device = server(QStringLiteral("qx-mini"), 22, true);
        facts.servers = {up, failed, silent, device};
        facts.statuses = {{up.id, Kind::connected}, {failed.id, Kind::failed}, {device.id, Kind::connected}};
        facts.todayCount = 4;
        facts.settings.hotkeyPaste = QStringLiteral("nonsense");
        const ServersPageModel model(facts);
        QCOMPARE(model.listed().size(), 3);
        QVERIFY2(model.footer().startsWith(QStringLiteral("1 台已连接 · 今天 4 张")), qPrintable(model.footer()));
        // A hot key that does not parse shows as the default one.
        QVERIFY(model.footer().contains(QStringLiteral("Alt+Super+3")));

        facts.dataOverride = QStringLiteral("/tmp/d");
        QCOMPARE(ServersPageModel(facts).footer(), QStringLiteral("测试数据目录：/tmp/d"));
    }

    void connectNeedsMoreThanBlanks()
    {
        QVERIFY(!ServersPageModel::canConnect(QStringLiteral(" \t ")));
        QVERIFY(ServersPageModel::canConnect(QStringLiteral(" h ")));
    }
};

QTEST_APPLESS_MAIN(ServersPageModelTest)
#include "ServersPageModelTest.moc"
