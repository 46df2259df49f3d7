#include "ui/kit/StatusDot.h"

#include <QTest>

class StatusDotTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A pulsing dot breathes down towards 0.35 and back; stopping leaves it steady and fully opaque,
    // never stuck half transparent.
    void pulseBreathesAndStopsOpaque()
    {
        StatusDot dot(10);
        dot.show();
        QCOMPARE(dot.opacity(), 1.0);
        dot.setPulsing(true);
        QTRY_VERIFY(dot.opacity() < 0.5);
        QTRY_VERIFY(dot.opacity() > 0.9); // on its way back up
        QTRY_VERIFY(dot.opacity() < 0.5); // and again: it repeats
        dot.setPulsing(false);
        QVERIFY(!dot.pulsing());
        QCOMPARE(dot.opacity(), 1.0);
    }
};

QTEST_MAIN(StatusDotTest)
#include "StatusDotTest.moc"
