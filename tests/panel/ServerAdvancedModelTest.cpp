#include "delivery/SSHConfig.h"
#include "ui/panel/ServerAdvancedModel.h"

#include <QTest>

using Fields = ServerAdvancedModel::Fields;
Q_DECLARE_METATYPE(Fields)

namespace {
const Server& stored()
{
    static const Server server = [] {
        Server s;
        s.name = QStringLiteral("gpu");
        s.host = QStringLiteral("10.0.0.7");
        s.port = 2222;
        s.user = QStringLiteral("alice");
        s.matchKeywords = {QStringLiteral("10.0.0.7"), QStringLiteral("alice@")};
        s.setup.keyInstalled = true;
        return s;
    }();
    return server;
}

Server changed(const std::function<void(Server&)>& change)
{
    Server s = stored();
    change(s);
    return s;
}

Fields with(const std::function<void(Fields&)>& change)
{
    Fields f = ServerAdvancedModel::load(stored());
    change(f);
    return f;
}
} // namespace

class ServerAdvancedModelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The first failing check is the only message, in the order port, login name, jump host, folder.
    void refusedEdits_data()
    {
        QTest::addColumn<Fields>("fields");
        QTest::addColumn<QString>("note");
        const QString port = QStringLiteral("端口要在 1～65535");
        const QString jump = QStringLiteral("跳板写法：user@host 或 user@host:端口");
        const QString dir = QStringLiteral("远程目录要像 ~/tarnel 这样");
        QTest::newRow("blank before the port") << with([](Fields& f) { f.port = " 22"; }) << port;
        QTest::newRow("port 0") << with([](Fields& f) { f.port = "0"; }) << port;
        QTest::newRow("port 65536") << with([](Fields& f) { f.port = "65536"; }) << port;
        QTest::newRow("negative port") << with([](Fields& f) { f.port = "-22"; }) << port;
        QTest::newRow("port wins over the login name")
            << with([](Fields& f) { f.port = "x"; f.user = "-bob"; }) << port;
        QTest::newRow("login name") << with([](Fields& f) { f.user = " -bob"; }) << "用户名不对：不能以 - 开头";
        QTest::newRow("login name wins over the jump")
            << with([](Fields& f) { f.user = "a b"; f.proxyJump = "@@"; }) << "用户名不对：只能是字母、数字、. _ -";
        QTest::newRow("jump") << with([](Fields& f) { f.proxyJump = "ops@"; }) << jump;
        QTest::newRow("jump with a shell") << with([](Fields& f) { f.proxyJump = "a;rm -rf ~"; }) << jump;
        QTest::newRow("relative folder") << with([](Fields& f) { f.remoteDir = "tarnel"; }) << dir;
        QTest::newRow("home itself") << with([](Fields& f) { f.remoteDir = "~/"; }) << dir;
        QTest::newRow("all homes") << with([](Fields& f) { f.remoteDir = "/home"; }) << dir;
    }
    void refusedEdits()
    {
        QFETCH(Fields, fields);
        QFETCH(QString, note);
        const Outcome<Server> next = ServerAdvancedModel::edited(stored(), fields);
        QVERIFY(!next.ok());
        QCOMPARE(next.failure(), note);
    }

    // Saved unchanged, the keywords come back as they were; the setup is never touched.
    void acceptedEdits_data()
    {
        QTest::addColumn<Fields>("fields");
        QTest::addColumn<Server>("saved");
        QTest::newRow("empty name is the host, blanks go")
            << with([](Fields& f) { f.name = " \t"; f.user = " "; f.proxyJump = "\t"; })
            << changed([](Server& s) { s.name = s.host; s.user.reset(); });
        QTest::newRow("plus sign") << with([](Fields& f) { f.port = "+22"; }) << changed([](Server& s) { s.port = 22; });
        QTest::newRow("trimmed values")
            << with([](Fields& f) { f.name = " box "; f.user = "\tbob "; f.remoteDir = " /srv/shots "; })
            << changed([](Server& s) { s.name = "box"; s.user = "bob"; s.remoteDir = "/srv/shots"; });
        QTest::newRow("jump as typed from habit") << with([](Fields& f) { f.proxyJump = "ssh -p 2200 ops@bastion"; })
                                                  << changed([](Server& s) { s.proxyJump = "ops@bastion:2200"; });
        QTest::newRow("IPv6 jump") << with([](Fields& f) { f.proxyJump = "ops@[fd00::1]:2200"; })
                                   << changed([](Server& s) { s.proxyJump = "ops@[fd00::1]:2200"; });
    }
    void acceptedEdits()
    {
        QFETCH(Fields, fields);
        QFETCH(Server, saved);
        const Outcome<Server> next = ServerAdvancedModel::edited(stored(), fields);
        QVERIFY2(next.ok(), qPrintable(next.failure()));
        QCOMPARE(next.value(), saved);
        // What is stored is what ssh_config takes.
        if (saved.proxyJump)
            QCOMPARE(SSHConfig::canonicalJump(*saved.proxyJump), saved.proxyJump);
    }

    void keywords_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("words");
        QTest::newRow("comma, fullwidth comma, line break")
            << QStringLiteral("a,b，c\nd") << QStringList{"a", "b", "c", "d"};
        QTest::newRow("other line breaks") << QStringLiteral("a\r\nb\u2028c\u0085d\u2029e\x0b" "f\x0cg")
                                           << QStringList{"a", "b", "c", "d", "e", "f", "g"};
        QTest::newRow("blanks trimmed, inner blanks kept") << QStringLiteral(" user@ host ,\tx ") << QStringList{"user@ host", "x"};
        QTest::newRow("only separators and blanks") << QStringLiteral(" , ，\t,") << QStringList{};
    }
    void keywords()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, words);
        QCOMPARE(ServerAdvancedModel::keywords(text), words);
    }

    void scripts()
    {
        // Without a key, the placeholder line fails the renderer's check.
        QCOMPARE(ServerAdvancedModel::installScript(stored(), std::nullopt, QStringLiteral("vm")), QStringLiteral("（还没生成钥匙）"));
        QVERIFY(ServerAdvancedModel::rulePreview(std::nullopt).contains(QLatin1String("`shotN: ~/tarnel/shots/xxxx.png`")));
    }
};

QTEST_APPLESS_MAIN(ServerAdvancedModelTest)
#include "ServerAdvancedModelTest.moc"
