// Which links a signed bundle may hold: only those that stay inside it, however they are spelled.
#include "platform/BundleManifest.h"

#include <QtTest>

class BundleManifestTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void linkTargets_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("safe");
        QTest::newRow("beside") << "bin/a" << "b" << true;
        QTest::newRow("down") << "a" << "share/tarnel/x" << true;
        QTest::newRow("up to the top") << "bin/a" << "../info.json" << true;
        QTest::newRow("up to the bundle itself") << "bin/a" << ".." << true;
        QTest::newRow("up too far") << "bin/a" << "../../x" << false;
        QTest::newRow("up from the top") << "a" << "../x" << false;
        QTest::newRow("up after down") << "s/u" << "x/../../.." << false;
        QTest::newRow("up after down, even when inside") << "s/t/u" << "x/.." << false;
        QTest::newRow("absolute") << "a" << "/etc/passwd" << false;
        QTest::newRow("dot") << "a" << "./b" << false;
        QTest::newRow("double slash") << "a" << "b//c" << false;
        QTest::newRow("trailing slash") << "a" << "b/" << false;
        QTest::newRow("empty") << "a" << "" << false;
        QTest::newRow("control character") << "a" << "b\nc" << false;
    }
    void linkTargets()
    {
        QFETCH(QString, link);
        QFETCH(QString, target);
        QFETCH(bool, safe);
        QCOMPARE(BundleManifest::safeLinkTarget(link, target), safe);
    }
};

QTEST_GUILESS_MAIN(BundleManifestTest)
#include "BundleManifestTest.moc"
