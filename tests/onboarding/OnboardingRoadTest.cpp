#include <QTest>
class OnboardingRoadTest : public QObject { Q_OBJECT };
QTEST_MAIN(OnboardingRoadTest)
#include "OnboardingRoadTest.moc"
