#include "delivery/SSHSession.h"
#include "servers/ServerAddress.h"

#include <QTest>

Q_DECLARE_METATYPE(ServerAddress)

class ServerAddressTest : public QObject {
    Q_OBJECT

    static ServerAddress address(std::optional<QString> user, const QString& host, std::optional<int> port)
    {
        return ServerAddress{std::move(user), host, port};
    }

    static QString errorOf(const QString& text)
    {
        const auto parsed = ServerAddress::parse(text);
        return parsed.ok() ? QStringLiteral("<accepted>") : parsed.failure();
    }

private Q_SLOTS:
    void acceptedShapes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<ServerAddress>("expected");
        const std::optional<QString> none;
        const std::optional<int> noPort;
        QTest::newRow("host") << "example.com" << address(none, "example.com", noPort);
        QTest::newRow("host:port") << "box-1.lan:2222" << address(none, "box-1.lan", 2222);
        QTest::newRow("user@host:port") << "a.b_c-d@h:22" << address("a.b_c-d", "h", 22);
        QTest::newRow("[v6]:port") << "[2001:db8::1]:2200" << address(none, "2001:db8::1", 2200);
        QTest::newRow("user@[v6]") << "me@[::1]" << address("me", "::1", noPort);
        QTest::newRow("bare v6") << "2001:db8::1" << address(none, "2001:db8::1", noPort);
        QTest::newRow("ssh://") << "ssh://me@host:2022" << address("me", "host", 2022);
        QTest::newRow("ssh:// slash") << "ssh://host/" << address(none, "host", noPort);
        QTest::newRow("ssh -p -l") << "ssh -p 2222 -l me host" << address("me", "host", 2222);
        QTest::newRow("ssh -pN attached") << "ssh -p2222 -lme host" << address("me", "host", 2222);
        QTest::newRow("ssh options win") << "ssh -l me -p 2 you@host:3" << address("me", "host", 2);
        QTest::newRow("ssh ssh://") << "ssh ssh://me@[::1]:2200" << address("me", "::1", 2200);
        QTest::newRow("blanks and breaks") << " \t\n me@host:2222 \r\n" << address("me", "host", 2222);
        QTest::newRow("tab after ssh") << "ssh\thost" << address(none, "host", noPort);
        QTest::newRow("-p after, no ssh") << "me@host -p 2240" << address("me", "host", 2240);
        QTest::newRow("-p before, no ssh") << "-p2240 host" << address(none, "host", 2240);
    }
    void acceptedShapes()
    {
        QFETCH(QString, text);
        QFETCH(ServerAddress, expected);
        const auto parsed = ServerAddress::parse(text);
        QVERIFY2(parsed.ok(), qPrintable(parsed.failure()));
        QCOMPARE(parsed.value(), expected);
    }

    void errorTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("blanks only") << " \n\t " << "先粘上服务器地址";
        QTest::newRow("empty user") << "@host" << "用户名不对：@ 前面的用户名是空的";
        QTest::newRow("user leading -") << "-oProxyCommand=x@host" << "用户名不对：不能以 - 开头";
        QTest::newRow("user bad char") << "m$e@host" << "用户名不对：只能是字母、数字、. _ -";
        QTest::newRow("user two @") << "a@b@host" << "用户名不对：只能是字母、数字、. _ -";
        QTest::newRow("user too long") << QString(65, QLatin1Char('u')) + "@h" << "用户名不对：太长了";
        QTest::newRow("host leading -") << "-oProxyCommand=touch" << "地址不对：不能以 - 开头";
        QTest::newRow("host empty") << "me@" << "地址不对：是空的";
        QTest::newRow("host empty with port") << ":22" << "地址不对：是空的";
        QTest::newRow("host leading dot") << ".host" << "地址不对：只能是字母、数字、. _ -";
        QTest::newRow("host backtick") << "h`id`" << "地址不对：只能是字母、数字、. _ -";
        QTest::newRow("host line break") << "host\nProxyCommand x" << "地址不对：只能是字母、数字、. _ -";
        QTest::newRow("host unicode") << "服务器" << "地址不对：只能是字母、数字、. _ -";
        QTest::newRow("host too long") << QString(254, QLatin1Char('h')) << "地址不对：太长了";
        QTest::newRow("input too long") << QString(5000, QLatin1Char('h')) << "地址不对：太长了";
        QTest::newRow("v6 without brackets, port") << "2001:db8::1::22" << "地址不对：IPv6 要写成 [地址]:端口";
        QTest::newRow("bad v6 in brackets") << "[nonsense]:22" << "地址不对：IPv6 要写成 [地址]:端口";
        QTest::newRow("unclosed bracket") << "[::1:22" << "地址不对：IPv6 要写成 [地址]:端口";
        QTest::newRow("junk after bracket") << "[::1]x" << "地址不对：IPv6 要写成 [地址]:端口";
        QTest::newRow("v6 zone") << "fe80::1%eth0" << "地址不对：IPv6 要写成 [地址]:端口";
        QTest::newRow("port zero") << "host:0" << "端口不对：要在 1～65535";
        QTest::newRow("port high") << "host:65536" << "端口不对：要在 1～65535";
        QTest::newRow("port empty") << "host:" << "端口不对：要在 1～65535";
        QTest::newRow("port sign") << "host:+22" << "端口不对：要在 1～65535";
        QTest::newRow("port huge") << "host:99999999999" << "端口不对：要在 1～65535";
        QTest::newRow("ssh -o") << "ssh -oProxyCommand=x host" << "地址不对：不能以 - 开头";
        QTest::newRow("ssh remote command") << "ssh host ls" << "地址不对：只能是字母、数字、. _ -";
        QTest::newRow("ssh nothing") << "ssh -p 22" << "地址不对：是空的";
        QTest::newRow("ssh -p missing") << "ssh host -p" << "端口不对：要在 1～65535";
        QTest::newRow("ssh -l bad") << "ssh -l -x host" << "用户名不对：不能以 - 开头";
    }
    void errorTexts()
    {
        QFETCH(QString, text);
        QFETCH(QString, message);
        QCOMPARE(errorOf(text), message);
    }

    // The user field alone; its other refusals are the user rows of errorTexts (one validator).
    void checkUser_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("message"); // empty = accepted
        QTest::newRow("64") << QString(64, QLatin1Char('x')) << "";
        QTest::newRow("newline") << "root\n" << "用户名不对：只能是字母、数字、. _ -";
    }
    void checkUser()
    {
        QFETCH(QString, user);
        QFETCH(QString, message);
        QCOMPARE(ServerAddress::checkUser(user).failure(), message);
    }

    // Addresses and session chips share one formatter: the text must parse back to the same destination.
    void canonicalFormParsesBack_data()
    {
        QTest::addColumn<ServerAddress>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("port 22 left out") << address("u", "h", 22) << "u@h";
        QTest::newRow("port") << address("u", "h", 2222) << "u@h:2222";
        QTest::newRow("v6 port") << address("u", "::1", 2222) << "u@[::1]:2222";
        QTest::newRow("v6 port 22") << address(std::nullopt, "2001:db8::1", 22) << "2001:db8::1";
    }
    void canonicalFormParsesBack()
    {
        QFETCH(ServerAddress, value);
        QFETCH(QString, text);
        QCOMPARE(value.canonical(), text);
        QCOMPARE((SSHSession{value.user, value.host, value.port}.address()), text);
        ServerAddress back = ServerAddress::parse(text).value();
        if (value.port == 22)
            back.port = 22;
        QCOMPARE(back, value);
    }
};

QTEST_GUILESS_MAIN(ServerAddressTest)
#include "ServerAddressTest.moc"
