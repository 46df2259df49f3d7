#include "state/Log.h"
#include "support/TempDataDir.h"

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
};

QTEST_GUILESS_MAIN(LogTest)
#include "LogTest.moc"
