#include "state/Paths.h"
#include "support/TempDataDir.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

// The control folder in the temporary folder, with no runtime folder to prefer.
class PathsTest : public QObject {
    Q_OBJECT

    QTemporaryDir tmp;

private Q_SLOTS:
    void initTestCase()
    {
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
    }

    void controlFolderIsOursAlone_data()
    {
        QTest::addColumn<QString>("planted"); // what is at tarnel-<uid> already
        QTest::addColumn<bool>("used");
        QTest::newRow("nothing") << "" << true;
        QTest::newRow("our own folder, too open") << "folder" << true;
        QTest::newRow("a link to another folder") << "link" << false;
    }
    void controlFolderIsOursAlone()
    {
        QFETCH(QString, planted);
        QFETCH(bool, used);
        const QString name = tmp.filePath(QStringLiteral("tarnel-%1").arg(::getuid()));
        const QString victim = tmp.filePath(QStringLiteral("victim"));
        QDir(name).removeRecursively();
        QFile::remove(name);
        QDir().mkpath(victim);
        QVERIFY(::chmod(QFile::encodeName(victim).constData(), 0755) == 0);
        if (planted == QLatin1String("folder")) {
            QDir().mkpath(name);
            QVERIFY(::chmod(QFile::encodeName(name).constData(), 0755) == 0);
        } else if (planted == QLatin1String("link")) {
            QVERIFY(QFile::link(victim, name));
        }

        const QString dir = Paths::controlDirectory();
        QCOMPARE(dir == name, used);
        QCOMPARE(fileMode(dir), 0700);
        QCOMPARE(fileMode(victim), 0755);
        QVERIFY(QFileInfo(dir).isDir() && !QFileInfo(dir).isSymLink());
    }
};

QTEST_GUILESS_MAIN(PathsTest)
#include "PathsTest.moc"
