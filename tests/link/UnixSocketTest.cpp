// The control-socket client against scripted servers: every way an exchange can end.
#include "link/UnixSocket.h"
#include "support/LineServer.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(LineServer::Mode)

class UnixSocketTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir{QStringLiteral("/tmp/us-XXXXXX")};

    QString socket(const QString& name) const { return dir.filePath(name); }

private Q_SLOTS:
    void exchange_data()
    {
        QTest::addColumn<LineServer::Mode>("mode");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QString>("failure");
        using M = LineServer::Mode;
        QTest::newRow("line") << M::reply << QByteArray("{\"a\":1}\n") << QByteArray("{\"a\":1}") << QString();
        QTest::newRow("bytes after the line feed")
            << M::reply << QByteArray("first\nsecond\n") << QByteArray("first") << QString();
        QTest::newRow("empty line") << M::reply << QByteArray("\n") << QByteArray() << QString();
        QTest::newRow("accept and close") << M::closeAtOnce << QByteArray() << QByteArray()
                                          << QStringLiteral("tarnel-net 没有回复（超时）");
        QTest::newRow("partial line") << M::reply << QByteArray("{") << QByteArray()
                                      << QStringLiteral("tarnel-net 的回复不完整");
        QTest::newRow("silence") << M::silent << QByteArray() << QByteArray()
                                 << QStringLiteral("tarnel-net 没有回复（超时）");
        QTest::newRow("5 MiB without a line feed") << M::reply << QByteArray(5 * 1024 * 1024, 'x') << QByteArray()
                                                   << QStringLiteral("tarnel-net 的回复过大");
    }
    void exchange()
    {
        QFETCH(LineServer::Mode, mode);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, expected);
        QFETCH(QString, failure);
        const LineServer server(socket(QStringLiteral("s")), mode, reply);
        QVERIFY(server.listening());
        const auto result = UnixSocket::requestLine(socket(QStringLiteral("s")), R"({"cmd":"status"})", 0.5);
        QCOMPARE(result.ok() ? QString() : result.failure(), failure);
        if (result.ok())
            QCOMPARE(result.value(), expected);
        if (mode != LineServer::Mode::closeAtOnce)
            QTRY_COMPARE(server.lastRequest(), QByteArray(R"({"cmd":"status"})"));
    }

    void nobodyListening()
    {
        const auto result = UnixSocket::requestLine(socket(QStringLiteral("missing")), "{}", 1);
        QCOMPARE(result.failure(), QStringLiteral("tarnel 设备互联没有在运行"));
    }

    void pathLengthLimit()
    {
        const QString base = dir.path() + QLatin1Char('/');
        const QString exact = base + QString(103 - base.size(), QLatin1Char('a'));
        const QString tooLong = base + QString(104 - base.size(), QLatin1Char('b'));
        const LineServer fits(exact, LineServer::Mode::reply, "ok\n");
        const LineServer over(tooLong, LineServer::Mode::reply, "ok\n");
        QVERIFY(fits.listening() && over.listening());
        QCOMPARE(UnixSocket::requestLine(exact, "{}", 1).value(), QByteArray("ok"));
        QCOMPARE(UnixSocket::requestLine(tooLong, "{}", 1).failure(), QStringLiteral("socket 路径太长"));
        QVERIFY(over.lastRequest().isEmpty()); // refused before connecting
    }

    void requestWantsAnObject()
    {
        const LineServer array(socket(QStringLiteral("a")), LineServer::Mode::reply, "[1]\n");
        const auto result = UnixSocket::request(socket(QStringLiteral("a")), {{QStringLiteral("cmd"), QStringLiteral("quit")}}, 1);
        QCOMPARE(result.failure(), QStringLiteral("tarnel-net 的回复不是 JSON"));
        QCOMPARE(array.lastRequest(), QByteArray(R"({"cmd":"quit"})"));
    }
};

QTEST_GUILESS_MAIN(UnixSocketTest)
#include "UnixSocketTest.moc"
