// The updater against the real tarnel-accountd: which offers count, the download into a checked stage,
// the prompt and its snooze, reuse and clean-up of stages, and when it checks on its own.
#include "account/QXServer.h"
#include "account/Updater.h"
#include "support/AccountServiceFixture.h"
#include "support/AwaitFuture.h"
#include "support/FakeClock.h"
#include "support/FakeWakeNotifier.h"
#include "support/ReleaseRig.h"
#include "support/TempDataDir.h"

#include <QDir>
#include <QtTest>

using namespace std::chrono_literals;

namespace {
AppInfo running(const QString& build = QStringLiteral("12"))
{
    AppInfo info;
    info.identifier = QStringLiteral("com.tarnel.app");
    info.version = QStringLiteral("1.3.0");
    info.build = build;
    info.bundlePath = QStringLiteral("/opt/tarnel.app");
    return info;
}

UpdateInfo offer(std::optional<qint64> build, std::optional<QString> version = QStringLiteral("1.4.0"))
{
    UpdateInfo info;
    info.available = true;
    info.build = build;
    info.version = version;
    return info;
}
} // namespace

class UpdaterTest : public QObject {
    Q_OBJECT

    TempDataDir data;
    AccountServiceFixture service;
    ReleaseRig rig;
    FakeClock clock{QDateTime(QDate(2026, 3, 2), QTime(10, 0))};
    FakeWakeNotifier wake;
    UpdateInfo published; // build 13 as the service offers it
    QStringList launched; // "source -> target" of every installation started
    int quits = 0;

    std::unique_ptr<Updater> updater(const QString& build = QStringLiteral("12"), Updater::Schedule schedule = {})
    {
        auto made = std::make_unique<Updater>(running(build), &wake, schedule);
        made->requirement = [this] { return std::optional(rig.keys()); };
        made->system = [] { return QStringLiteral("Debian GNU/Linux 12.11.0"); };
        made->installTarget = [] { return QStringLiteral("/home/u/.local/opt/tarnel.app"); };
        made->launchInstall = [this](const QString& source, const QString& target) -> std::optional<QString> {
            launched << source + QStringLiteral(" -> ") + target;
            return std::nullopt;
        };
        made->quit = [this] { ++quits; };
        return made;
    }

    int requestsTo(const QString& prefix) const { return int(service.requestsTo(prefix).size()); }

    QStringList updaterLog() const
    {
        return QString::fromUtf8(readFile(Updater::directory() + QStringLiteral("/updater.log"))).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(service.start(), qPrintable(service.error()));
        QXServer::useURLs(service.url(), service.url());
        QVERIFY(rig.ok());
        const QString app = rig.makeBundle(QStringLiteral("r13"), QStringLiteral("13"));
        QVERIFY(rig.sign(app));
        const QString archive = rig.path(QStringLiteral("r13.zip"));
        QVERIFY(!ReleaseRig::pack(app, archive).isEmpty());
        QVERIFY(ReleaseRig::publish(service, archive, QStringLiteral("1.4.0"), 13,
                                    {QStringLiteral("--note"), QStringLiteral("更快"), QStringLiteral("--note"), QStringLiteral("更稳")}));
        const auto answer = service.call("GET", QStringLiteral("api/update?channel=stable&build=12"));
        published = UpdateInfo::decode(answer.json());
        QVERIFY(published.url);
    }

    void init()
    {
        QDir(Updater::directory()).removeRecursively();
        service.resetHooks();
        launched.clear();
        quits = 0;
        clock.set(QDateTime(QDate(2026, 3, 2), QTime(10, 0)));
    }

    void decides_data()
    {
        QTest::addColumn<UpdateInfo>("offered");
        QTest::addColumn<bool>("user");
        QTest::addColumn<QString>("manual");
        QTest::newRow("same build") << offer(12) << true << "已经是最新版本（1.3.0）";
        QTest::newRow("older build") << offer(11) << true << "已经是最新版本（1.3.0）";
        QTest::newRow("no build") << offer(std::nullopt) << true << "已经是最新版本（1.3.0）";
        QTest::newRow("no version") << offer(13, std::nullopt) << true << "已经是最新版本（1.3.0）";
        UpdateInfo unavailable = offer(13);
        unavailable.available = false;
        QTest::newRow("not available") << unavailable << true << "已经是最新版本（1.3.0）";
        QTest::newRow("same build, scheduled") << offer(12) << false << "";
        UpdateInfo newerSystem = offer(13);
        newerSystem.minimumSystem = QStringLiteral("13");
        QTest::newRow("needs a newer system") << newerSystem << true << "新版本 1.4.0 需要 Debian GNU/Linux 13 或更新";
        QTest::newRow("needs a newer system, scheduled") << newerSystem << false << "";
    }
    void decides()
    {
        QFETCH(UpdateInfo, offered);
        QFETCH(bool, user);
        QFETCH(QString, manual);
        auto u = updater();
        QVERIFY(awaitFinished(u->consider(offered, user)));
        QCOMPARE(u->manualResult().value_or(QString()), manual);
        QCOMPARE(u->phase(), Updater::Phase());
        QCOMPARE(requestsTo(QStringLiteral("/downloads/")), 0);
    }

    void minimumSystem_data()
    {
        QTest::addColumn<QString>("minimum");
        QTest::addColumn<bool>("runs");
        QTest::newRow("major only") << "12" << true;
        QTest::newRow("same point release") << "12.11" << true;
        QTest::newRow("next point release") << "12.12" << false;
        QTest::newRow("next major") << "13" << false;
        QTest::newRow("words dropped") << "12.x.12" << false; // 12.12.0
        QTest::newRow("empty") << "" << true;
    }
    void minimumSystem()
    {
        QFETCH(QString, minimum);
        QFETCH(bool, runs);
        QCOMPARE(updater()->systemAtLeast(minimum), runs);
    }

    void downloadsChecksPromptsAndInstalls()
    {
        auto u = updater();
        QList<Updater::Phase> phases;
        connect(u.get(), &Updater::changed, this, [&] { phases << u->phase(); });
        QVERIFY(awaitFinished(u->check(false)));
        QCOMPARE(u->phase(), Updater::Phase::ready(QStringLiteral("1.4.0"), {QStringLiteral("更快"), QStringLiteral("更稳")}));
        QVERIFY(u->showPrompt());
        QVERIFY(!u->manualResult());
        QCOMPARE(phases.first().kind, Updater::Phase::Kind::checking);
        QVERIFY(phases.contains(Updater::Phase::downloading(QStringLiteral("1.4.0"), 0)));
        const QString app = Updater::stageDirectory(13) + QStringLiteral("/tarnel.app");
        QVERIFY(QFileInfo(app + QStringLiteral("/bin/tarnel")).isExecutable());
        QVERIFY(!QFile::exists(Updater::stageDirectory(13) + QStringLiteral("/tarnel.zip")));

        // A manual check while ready installs at once; the application quits shortly after.
        QVERIFY(awaitFinished(u->check(true)));
        QCOMPARE(u->phase().kind, Updater::Phase::Kind::installing);
        QVERIFY(!u->showPrompt());
        QCOMPARE(launched, QStringList{app + QStringLiteral(" -> /home/u/.local/opt/tarnel.app")});
        // Repeats (a held Return on the prompt, another check) start no second installation.
        u->installNow();
        QVERIFY(awaitFinished(u->check(true)));
        QCOMPARE(launched.size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(quits, 1, 2000);
        QCOMPARE(updaterLog(), (QStringList{QStringLiteral("[2026-03-02 10:00:00] 新版本 1.4.0（13）已下载并校验通过"),
                                           QStringLiteral("[2026-03-02 10:00:00] 开始更新到 1.4.0：换 /home/u/.local/opt/tarnel.app")}));
    }

    void downloadFailures_data()
    {
        QTest::addColumn<UpdateInfo>("offered");
        QTest::addColumn<QString>("message");
        const auto with = [this](std::function<void(UpdateInfo&)> change) {
            UpdateInfo info = published;
            change(info);
            return info;
        };
        QTest::newRow("404") << with([](UpdateInfo& i) { i.url = i.url->replace(QStringLiteral("/downloads/"), QStringLiteral("/downloads/9")); })
                             << "下载更新失败：服务器返回 404";
        QTest::newRow("refused") << with([](UpdateInfo& i) {
            i.url = QStringLiteral("http://127.0.0.1:%1/tarnel.zip").arg(AccountServiceFixture::closedPort());
        }) << "下载更新失败：Connection refused";
        // Digests that differ or come in upper case are UpdateStageTest's.
        QTest::newRow("no digest") << with([](UpdateInfo& i) { i.sha256.reset(); }) << "更新信息不完整";
        QTest::newRow("file") << with([](UpdateInfo& i) { i.url = QStringLiteral("file:///etc/passwd"); }) << "更新信息不完整";
        QTest::newRow("no url") << with([](UpdateInfo& i) { i.url.reset(); }) << "更新信息不完整";
        // The digest would match: what counts is that the download stops past the offered size.
        QTest::newRow("larger than offered") << with([](UpdateInfo& i) { *i.size /= 2; }) << "下载更新失败：更新包比说好的大";
    }
    void downloadFailures()
    {
        QFETCH(UpdateInfo, offered);
        QFETCH(QString, message);
        auto u = updater();
        QVERIFY(awaitFinished(u->consider(offered, true)));
        QCOMPARE(u->phase(), Updater::Phase::failed(message));
        QCOMPARE(u->manualResult().value_or(QString()), QStringLiteral("下载更新失败：") + message);
        QVERIFY(updaterLog().last().endsWith(QStringLiteral("] 下载更新失败：") + message));
        QVERIFY(!QFile::exists(Updater::stageDirectory(13) + QStringLiteral("/tarnel.app")));
    }

    void httpDownloadNeedsAnHttpService()
    {
        QXServer::useURLs(QUrl(QStringLiteral("https://127.0.0.1:1/")), QUrl(QStringLiteral("https://127.0.0.1:1/")));
        auto u = updater();
        QVERIFY(awaitFinished(u->consider(published, false)));
        QXServer::useURLs(service.url(), service.url());
        QCOMPARE(u->phase(), Updater::Phase::failed(QStringLiteral("更新信息不完整")));
        QVERIFY(!u->manualResult());
    }

    void stageIsReusedAndSnoozed()
    {
        QVERIFY(awaitFinished(updater()->consider(published, false)));
        QCOMPARE(requestsTo(QStringLiteral("/downloads/")), 1);

        // After a restart the same build is found on disk, checked again, and not downloaded anew.
        auto u = updater();
        u->launchInstall = [](const QString&, const QString&) { return std::optional<QString>(QStringLiteral("不装")); };
        QVERIFY(awaitFinished(u->consider(published, false)));
        QCOMPARE(requestsTo(QStringLiteral("/downloads/")), 1);
        QVERIFY(u->showPrompt());

        u->later();
        QVERIFY(!u->showPrompt());
        const auto stagedAgain = [&](qint64 secondsAfterLater) {
            clock.set(QDateTime(QDate(2026, 3, 2), QTime(10, 0)).addSecs(secondsAfterLater));
            u->installNow(); // refused: back to failed, so the stage can be recorded anew
            awaitFinished(u->consider(published, false));
            return u->phase().kind == Updater::Phase::Kind::ready && u->showPrompt();
        };
        QVERIFY(!stagedAgain(6 * 3600 - 1));
        QVERIFY(stagedAgain(6 * 3600));
        QCOMPARE(requestsTo(QStringLiteral("/downloads/")), 1);
    }

    void cleansOnlyOldStages()
    {
        for (const QString& name : {QStringLiteral("3"), QStringLiteral("12"), QStringLiteral("13"), QStringLiteral("beta"),
                                    QStringLiteral("+7")})
            QVERIFY(QDir().mkpath(Updater::directory() + QLatin1Char('/') + name));
        Updater::log(QStringLiteral("x"));
        QCOMPARE(fileMode(Updater::directory() + QStringLiteral("/updater.log")), 0600);
        updater()->cleanUpOldDownloads();
        QCOMPARE(QDir(Updater::directory()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 (QStringList{QStringLiteral("13"), QStringLiteral("beta"), QStringLiteral("updater.log")}));
    }

    void checksOnItsOwn_data()
    {
        QTest::addColumn<QString>("build");
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<bool>("arms");
        QTest::newRow("release bundle") << "12" << "com.tarnel.app" << true;
        QTest::newRow("build 0") << "0" << "com.tarnel.app" << false;
        QTest::newRow("another identifier") << "12" << "com.tarnel.app.dev" << false;
    }
    void checksOnItsOwn()
    {
        QFETCH(QString, build);
        QFETCH(QString, identifier);
        QFETCH(bool, arms);
        QVERIFY(QDir().mkpath(Updater::stageDirectory(3)));
        AppInfo info = running(build);
        info.identifier = identifier;
        auto u = std::make_unique<Updater>(info, &wake, Updater::Schedule{20ms, 1h, 20ms});
        u->requirement = [this] { return std::optional(rig.keys()); };
        u->installTarget = [] { return QString(); };
        u->start();
        QCOMPARE(u->started(), arms);
        QCOMPARE(QFile::exists(Updater::stageDirectory(3)), !arms);
        if (!arms) {
            // An offer of the check-in is still considered.
            QVERIFY(awaitFinished(u->consider(offer(12), true)));
            QVERIFY(u->manualResult());
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(u->phase().kind, Updater::Phase::Kind::ready, 20000);
        QCOMPARE(requestsTo(QStringLiteral("/api/update")), 1);
        u->later();
        u->installNow(); // unset launcher: fails, the next wake checks again
        wake.wake();
        QTRY_COMPARE_WITH_TIMEOUT(requestsTo(QStringLiteral("/api/update")), 2, 10000);
    }

    // The program in a build tree (build 0, no publishers' keys): offers of the check-in and of a manual check
    // are never downloaded, and the manual check says how to get a new version.
    void selfBuiltCopyDownloadsNothing()
    {
        auto u = updater(QStringLiteral("0"));
        u->requirement = [] { return Updater::Keys(); };
        QVERIFY(awaitFinished(u->consider(published, false)));
        QVERIFY(awaitFinished(u->check(true)));
        QCOMPARE(u->manualResult().value_or(QString()), Updater::selfBuiltText());
        QCOMPARE(u->phase(), Updater::Phase());
        QCOMPARE(requestsTo(QStringLiteral("/downloads/")), 0);
        QCOMPARE(updaterLog(), QStringList());
    }

    void failedCheckIsRetried()
    {
        service.script(QStringLiteral("api/update"), {{QStringLiteral("status"), 503}});
        auto u = updater();
        QVERIFY(awaitFinished(u->check(true)));
        QCOMPARE(u->phase().kind, Updater::Phase::Kind::failed);
        QVERIFY(u->manualResult().value_or(QString()).startsWith(QStringLiteral("检查更新失败：")));
        QVERIFY(updaterLog().last().contains(QStringLiteral("检查更新失败：")));
        QVERIFY(awaitFinished(u->check(false)));
        QCOMPARE(u->phase().kind, Updater::Phase::Kind::ready);
    }
};

QTEST_GUILESS_MAIN(UpdaterTest)
#include "UpdaterTest.moc"
