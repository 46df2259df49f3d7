#include "state/Log.h"
#include "support/TempDataDir.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <thread>

class LogTest : public QObject {
    Q_OBJECT
    TempDataDir data;

private Q_SLOTS:
    void linesFromManyThreadsStayWholeAndStamped()
    {
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([t] {
                for (int i = 0; i < 100; ++i)
                    Log::write(QStringLiteral("截图%1 线程 %2").arg(i).arg(t));
            });
        for (auto& th : threads)
            th.join();
        Log::write(QStringLiteral("账号：两行\n合成一行"));
        const QStringList lines = data.logLines();
        QCOMPARE(lines.size(), 401);
        const QRegularExpression shape(QStringLiteral(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] \S.*$)"));
        for (const QString& line : lines)
            QVERIFY2(shape.match(line).hasMatch(), qPrintable(line));
        QVERIFY(lines.last().endsWith(QStringLiteral("账号：两行 合成一行")));
        QCOMPARE(fileMode(Log::file()), 0600);
        QCOMPARE(fileMode(data.file(QStringLiteral("logs"))), 0700);
    }

    void tailTakesTheLastPiecesFromTheEnd_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("pieces");
        QTest::addColumn<QByteArray>("expected");
        // Lines longer than the read block make the walk back cross block edges.
        const QByteArray wide(70000, 'x');
        QTest::newRow("2 lines and the final empty piece") << QByteArray("1\n2\n3\n4\n") << 3 << QByteArray("3\n4\n");
        QTest::newRow("fewer pieces than asked: all") << QByteArray("a\nb") << 5 << QByteArray("a\nb");
        QTest::newRow("no final line feed") << QByteArray("a\nb\nc") << 2 << QByteArray("b\nc");
        QTest::newRow("long lines") << wide + "\n" + wide + "\nend\n" << 3 << wide + "\nend\n";
        QTest::newRow("invalid UTF-8 in the tail") << QByteArray("ok\n\xff\xfe\n") << 2 << QByteArray();
        QTest::newRow("invalid UTF-8 before the tail") << QByteArray("\xff\nok\n") << 2 << QByteArray("ok\n");
        QTest::newRow("Chinese") << QByteArray("一\n诊断：已上报\n") << 2 << QByteArray("诊断：已上报\n");
    }

    void tailTakesTheLastPiecesFromTheEnd()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, pieces);
        QFETCH(QByteArray, expected);
        const QString file = data.file(QStringLiteral("tail.log"));
        QVERIFY(writeWholeFile(file, content));
        QCOMPARE(Log::tail(file, pieces).toUtf8(), expected);
        QCOMPARE(Log::tail(data.file(QStringLiteral("missing.log")), pieces), QString());
    }
};

QTEST_GUILESS_MAIN(LogTest)
#include "LogTest.moc"
