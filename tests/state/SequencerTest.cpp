#include "state/Sequencer.h"
#include "support/TempDataDir.h"

#include <QTest>
#include <thread>

class SequencerTest : public QObject {
    Q_OBJECT
    TempDataDir data;

    static QDateTime at(int day, int hour, int minute = 0) { return QDateTime(QDate(2026, 3, day), QTime(hour, minute)); }

private Q_SLOTS:
    void numbersRestartAtLocalMidnightAndSurviveRestart()
    {
        Store store(data.file(QStringLiteral("a")));
        {
            Sequencer seq(store);
            QCOMPARE(seq.peek(at(1, 23, 58)), 0);
            QCOMPARE(seq.next(at(1, 23, 58)), 1);
            QCOMPARE(seq.next(at(1, 23, 59)), 2);
            QCOMPARE(seq.peek(at(2, 0, 0)), 0);
        }
        Sequencer again(store); // a restart the same day continues
        QCOMPARE(again.next(at(1, 23, 59)), 3);
        QCOMPARE(again.next(at(2, 0, 1)), 1);
        QCOMPARE(store.loadSeq()->date, QStringLiteral("20260302"));
    }

    void raiseToNeverLowersAndResetStartsOver()
    {
        Store store(data.file(QStringLiteral("b")));
        Sequencer seq(store);
        seq.next(at(5, 10));
        seq.raiseTo(at(5, 10), 9);
        seq.raiseTo(at(5, 10), 4);
        QCOMPARE(seq.next(at(5, 11)), 10);
        seq.reset(at(5, 12));
        QCOMPARE(seq.next(at(5, 12)), 1);
    }

    void concurrentCallersNeverShareANumber()
    {
        Store store(data.file(QStringLiteral("c")));
        Sequencer seq(store);
        std::vector<qint64> got[4];
        std::vector<std::thread> threads;
        for (auto& list : got)
            threads.emplace_back([&seq, &list] {
                for (int i = 0; i < 50; ++i)
                    list.push_back(seq.next(at(7, 9)));
            });
        for (auto& t : threads)
            t.join();
        QSet<qint64> all;
        for (auto& list : got)
            for (qint64 n : list)
                all.insert(n);
        QCOMPARE(all.size(), 200);
        QCOMPARE(seq.peek(at(7, 9)), 200);
        QCOMPARE(store.loadSeq()->n, 200);
    }
};

QTEST_GUILESS_MAIN(SequencerTest)
#include "SequencerTest.moc"
