#include "state/AppInfo.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QByteArray release = R"({"identifier":"com.tarnel.app","version":"1.4.0","build":"13"})";
}

class AppInfoTest : public QObject {
    Q_OBJECT
    QTemporaryDir root;

    // <root>/<name>/<folder>/bin/tarnel with an optional info.json in <folder>.
    QString layOut(const QString& name, const QString& folder, const QByteArray& infoJson)
    {
        const QString dir = root.filePath(name + QLatin1Char('/') + folder);
        QDir().mkpath(dir + QStringLiteral("/bin"));
        if (!infoJson.isNull()) {
            QFile info(dir + QStringLiteral("/info.json"));
            info.open(QIODevice::WriteOnly);
            info.write(infoJson);
        }
        return dir + QStringLiteral("/bin/tarnel");
    }

    static QString versionOf(const QString& program)
    {
        QProcess process;
        process.start(program, {QStringLiteral("--version")});
        process.waitForFinished(10000);
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }

private Q_SLOTS:
    void readsTheBundleBesideTheExecutable_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QByteArray>("infoJson"); // null: no file
        QTest::addColumn<bool>("bundle");
        QTest::addColumn<bool>("release");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("build");
        QTest::newRow("installed bundle") << "tarnel.app" << release << true << true << "1.4.0" << "13";
        QTest::newRow("build tree") << "build" << QByteArray() << false << false << "0.1.0-dev" << "0";
        QTest::newRow("build tree with an info.json") << "build" << release << false << false << "0.1.0-dev" << "0";
        QTest::newRow("bundle without info.json") << "tarnel.app" << QByteArray() << false << false << "0.1.0-dev" << "0";
        QTest::newRow("info.json not an object") << "tarnel.app" << QByteArray("[1]") << false << false << "0.1.0-dev" << "0";
        QTest::newRow("another identifier") << "tarnel.app" << QByteArray(R"({"identifier":"com.tarnel.app.dev","version":"2"})")
                                            << true << false << "2" << "0";
        QTest::newRow("no identifier") << "tarnel.app" << QByteArray(R"({"build":"7"})") << true << false << "0.1.0-dev" << "7";
    }

    void readsTheBundleBesideTheExecutable()
    {
        QFETCH(QString, folder);
        QFETCH(QByteArray, infoJson);
        QFETCH(bool, bundle);
        const QString name = QString::fromUtf8(QTest::currentDataTag());
        const AppInfo info = AppInfo::forExecutable(layOut(name, folder, infoJson));
        QCOMPARE(info.bundlePath, bundle ? root.filePath(name + QLatin1Char('/') + folder) : QString());
        QTEST(info.runsAsBundle(), "release");
        QTEST(info.version, "version");
        QTEST(info.build, "build");
    }

    // The real program learns where it runs from before any window system is touched.
    void theProgramKnowsWhetherItRunsAsTheBundle()
    {
        const QString built = QStringLiteral(TARNEL_BINARY_DIR "/bin/tarnel");
        QCOMPARE(versionOf(built), QStringLiteral("tarnel 0.1.0-dev (0)"));
        const QString copy = layOut(QStringLiteral("copy"), QStringLiteral("tarnel.app"), release);
        QVERIFY(QFile::copy(built, copy));
        QCOMPARE(versionOf(copy), QStringLiteral("tarnel 1.4.0 (13)"));
    }
};

QTEST_GUILESS_MAIN(AppInfoTest)
#include "AppInfoTest.moc"
