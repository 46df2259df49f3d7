// What may be signed and what a manifest may name: links stay inside the bundle, paths stay plain, and
// the manifest reads back exactly what was written.
#include "platform/BundleManifest.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>
#include <variant>

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

    void paths_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("safe");
        QTest::newRow("plain") << "bin/tarnel" << true;
        QTest::newRow("hidden file") << "share/.keep" << true;
        QTest::newRow("absolute") << "/bin/tarnel" << false;
        QTest::newRow("dot dot") << "bin/../../x" << false;
        QTest::newRow("dot") << "./bin" << false;
        QTest::newRow("empty part") << "bin//tarnel" << false;
        QTest::newRow("trailing slash") << "bin/" << false;
        QTest::newRow("signature folder") << "signature/manifest.json" << false;
        QTest::newRow("tab") << "bin/a\tb" << false;
    }
    void paths()
    {
        QFETCH(QString, path);
        QFETCH(bool, safe);
        QCOMPARE(BundleManifest::safePath(path), safe);
    }

    void describesReadsBackAndMatches()
    {
        QTemporaryDir dir;
        const QString app = dir.filePath(QStringLiteral("tarnel.app"));
        QVERIFY(QDir().mkpath(app + QStringLiteral("/bin")));
        QVERIFY(QDir().mkpath(app + QStringLiteral("/signature")));
        QFile tool(app + QStringLiteral("/bin/tarnel"));
        QVERIFY(tool.open(QIODevice::WriteOnly));
        tool.write("x");
        tool.close();
        QVERIFY(tool.setPermissions(tool.permissions() | QFile::ExeOwner));
        QVERIFY(QFile::link(QStringLiteral("bin/tarnel"), app + QStringLiteral("/run")));

        const auto described = BundleManifest::describe(app);
        QVERIFY(std::holds_alternative<BundleManifest>(described));
        const BundleManifest& manifest = std::get<BundleManifest>(described);
        QCOMPARE(manifest.entries.size(), 2);
        QCOMPARE(BundleManifest::parse(manifest.canonicalBytes())->entries, manifest.entries);
        QCOMPARE(manifest.compare(app), BundleManifest::Mismatch::none);
    }

    void refusesToDescribe_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("empty folder") << "empty";
        QTest::newRow("named pipe") << "fifo";
        QTest::newRow("link out") << "link";
    }
    void refusesToDescribe()
    {
        QFETCH(QString, what);
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("info.json")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        if (what == QLatin1String("empty"))
            QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("share/empty"))));
        else if (what == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe"))).constData(), 0600), 0);
        else
            QVERIFY(QFile::link(QStringLiteral("/tmp"), dir.filePath(QStringLiteral("tmp"))));
        QVERIFY(std::holds_alternative<QString>(BundleManifest::describe(dir.path())));
    }
};

QTEST_GUILESS_MAIN(BundleManifestTest)
#include "BundleManifestTest.moc"
