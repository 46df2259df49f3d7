#include "ui/panel/ServerCardModel.h"

#include <QTest>

using Status = ServerRegistry::Status;
using Line = ServerCardModel::Line;
using Dot = ServerCardModel::Dot;
using Border = ServerCardModel::Border;
Q_DECLARE_METATYPE(Status)

namespace {
const QDateTime noon = QDateTime(QDate(2025, 3, 14), QTime(12, 0));

Server devbox(int port = 22, bool enabled = true)
{
    Server s;
    s.name = QStringLiteral("devbox");
    s.host = QStringLiteral("10.0.0.8");
    s.port = port;
    s.enabled = enabled;
    return s;
}
} // namespace

class ServerCardModelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void statusLine_data()
    {
        QTest::addColumn<Server>("server");
        QTest::addColumn<Status>("status");
        QTest::addColumn<Line>("line");
        const auto probing = Status::connecting(noon.addMSecs(-2900), ConnectFlow::Stage::probing);
        QTest::newRow("2.9 s counts as 2") << devbox() << probing << Line{"正在找能登录的用户名… 2 秒", "orange"};
        QTest::newRow("a start in the future counts 0")
            << devbox() << Status::connecting(noon.addSecs(5), ConnectFlow::Stage::installing) << Line{"正在准备服务器端… 0 秒", "orange"};
        QTest::newRow("connected, sync on") << devbox() << Status::connected({QStringLiteral("alice"), std::nullopt})
                                            << Line{"已连接 · alice@10.0.0.8 · 同步开 · 今天 3 张", "green"};
        QTest::newRow("connected, sync off") << devbox(22, false) << Status::connected({QStringLiteral("root"), QStringLiteral("x")})
                                             << Line{"已连接 · root@10.0.0.8 · 同步关 · 今天 3 张", "green"};
        QTest::newRow("failure unchanged") << devbox() << Status::failed(Failure{QStringLiteral("连不上：超时")}) << Line{"连不上：超时", "red"};
        QTest::newRow("unknown") << devbox() << Status() << Line{"等待检测…", "secondary"};
    }
    void statusLine()
    {
        QFETCH(Server, server);
        QFETCH(Status, status);
        QTEST(ServerCardModel::statusLine(server, status, 3, noon), "line");
    }

    void dotAndBorder_data()
    {
        QTest::addColumn<Status>("status");
        QTest::addColumn<bool>("highlighted");
        QTest::addColumn<Dot>("dot");
        QTest::addColumn<Border>("border");
        const auto connected = Status::connected({QStringLiteral("a"), std::nullopt});
        QTest::newRow("connecting breathes") << Status::connecting(noon, ConnectFlow::Stage::checking) << false
                                             << Dot{"orange", false, true} << Border{"orange", 0.5, 1.0};
        QTest::newRow("connected glows") << connected << false << Dot{"green", true, false} << Border{"green", 0.5, 1.0};
        QTest::newRow("highlighted connected") << connected << true << Dot{"green", true, false} << Border{"green", 0.9, 1.5};
        QTest::newRow("failed") << Status::failed(Failure::needingLoginName(QStringLiteral("x"), true)) << false
                                << Dot{"red", false, false} << Border{"red", 0.5, 1.0};
        QTest::newRow("unknown") << Status() << false << Dot{"gray", false, false} << Border{"separator", 1.0, 1.0};
    }
    void dotAndBorder()
    {
        QFETCH(Status, status);
        QFETCH(bool, highlighted);
        QTEST(ServerCardModel::dot(status), "dot");
        QTEST(ServerCardModel::border(status, highlighted), "border");
    }

    void titleExtras()
    {
        QCOMPARE(ServerCardModel::portSuffix(devbox()), QString());
        QCOMPARE(ServerCardModel::portSuffix(devbox(2222)), QStringLiteral(":2222"));
        const Server s = devbox();
        QCOMPARE(ServerCardModel::hostnameBeside(s, Status::connected({QStringLiteral("a"), QStringLiteral("10.0.0.8")})), std::nullopt);
        QCOMPARE(ServerCardModel::hostnameBeside(s, Status::connected({QStringLiteral("a"), std::nullopt})), std::nullopt);
        QCOMPARE(ServerCardModel::hostnameBeside(s, Status::connected({QStringLiteral("a"), QStringLiteral("gpu-7")})),
                 std::optional<QString>(QStringLiteral("gpu-7")));
        // The sync switch: once connected, or after a probe that found a login name.
        Server probed = devbox();
        QVERIFY(!ServerCardModel::showsSync(probed, Status()));
        probed.setup.lastProbe = ProbeRecord{};
        probed.setup.lastProbe->ok = true;
        QVERIFY(ServerCardModel::showsSync(probed, Status()));
        QVERIFY(ServerCardModel::showsCredentials(Status::failed(Failure::needingLoginName(QStringLiteral("x"), true))));
        QVERIFY(!ServerCardModel::showsCredentials(Status::failed(Failure{QStringLiteral("x")})));
    }

    void credentials_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("canLogIn");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("problem");
        QTest::newRow("spaces only") << "   \t" << false << "" << "用户名不对：@ 前面的用户名是空的";
        QTest::newRow("blanks around") << "  alice\t" << true << "alice" << "";
        QTest::newRow("leading hyphen") << "-oProxy" << true << "-oProxy" << "用户名不对：不能以 - 开头";
        QTest::newRow("a line break is not trimmed") << "bob\n" << true << "bob\n" << "用户名不对：只能是字母、数字、. _ -";
    }
    void credentials()
    {
        QFETCH(QString, typed);
        QFETCH(bool, canLogIn);
        QFETCH(QString, name);
        QFETCH(QString, problem);
        QCOMPARE(ServerCardModel::canLogIn(typed), canLogIn);
        QCOMPARE(ServerCardModel::loginName(typed), name);
        QCOMPARE(ServerCardModel::loginNameProblem(typed).value_or(QString()), problem);
    }
};

QTEST_APPLESS_MAIN(ServerCardModelTest)
#include "ServerCardModelTest.moc"
