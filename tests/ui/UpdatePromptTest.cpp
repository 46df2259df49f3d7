// The update prompt offscreen, driven by a real updater through its phases: the title, the notes box and
// its scrolling, the failure line, "稍后", the close button and Return. One picture per phase goes to
// <build>/artifacts/update/ for a person to look at.
#include "account/QXServer.h"
#include "account/Updater.h"
#include "state/Log.h"
#include "support/AwaitFuture.h"
#include "support/FakeClock.h"
#include "support/ReleaseRig.h"
#include "support/TempDataDir.h"
#include "support/WindowShot.h"
#include "ui/account/UpdatePromptView.h"
#include "ui/account/UpdateWindowController.h"
#include "ui/kit/SymbolNote.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTcpServer>
#include <QtTest>

class UpdatePromptTest : public QObject {
    Q_OBJECT

    TempDataDir data;
    ReleaseRig rig;
    FakeClock clock{QDateTime(QDate(2026, 3, 2), QTime(10, 0))};
    QTcpServer silent; // accepts and never answers: a download stays in flight
    std::unique_ptr<Updater> updater;
    std::unique_ptr<UpdateWindowController> controller;
    std::optional<QString> installProblem = QStringLiteral("磁盘满了");
    int launches = 0;
    WindowProbe probe{[this] { return window(); }, QStringLiteral("update"), QSize(440, 0)};

    QWidget* window() const { return controller->window(); }
    template <typename T>
    T* child(const char* name) const { return probe.find<T>(name); }
    QString title() const { return child<QLabel>("title")->text(); }
    int noteRows() const { return int(window()->findChildren<QLabel*>(QStringLiteral("note")).size()); }

    UpdateInfo offer(int notes, bool repeat = false) const
    {
        UpdateInfo info;
        info.available = true;
        info.version = QStringLiteral("1.4.0");
        info.build = 13;
        info.notes = QStringList();
        for (int i = 1; i <= notes; ++i) // every third line wraps
            *info.notes << (repeat ? QStringLiteral("修好了粘贴") : QStringLiteral("第 %1 条：").arg(i) + QString(i % 3 ? 6 : 30, QChar(0x6539)));
        info.url = QStringLiteral("http://127.0.0.1:%1/tarnel.zip").arg(silent.serverPort());
        info.sha256 = QString(64, QLatin1Char('0'));
        return info;
    }

    // Back to idle with the window shown for an offer of the staged build.
    void ready(int notes, bool repeat = false, std::optional<QString> refusal = QStringLiteral("磁盘满了"))
    {
        launches = 0;
        installProblem = refusal;
        updater = std::make_unique<Updater>(AppInfo::fromBundle(rig.path(QStringLiteral("r12/tarnel.app"))));
        updater->requirement = [this] { return std::optional(rig.keys()); };
        updater->installTarget = [] { return QStringLiteral("/opt/tarnel.app"); };
        updater->launchInstall = [this](const QString&, const QString&) {
            ++launches;
            return installProblem;
        };
        controller = std::make_unique<UpdateWindowController>(*updater);
        QVERIFY(awaitFinished(updater->consider(offer(notes, repeat), false)));
        QVERIFY(updater->showPrompt());
        QTRY_VERIFY(window()->isVisible());
        QTRY_COMPARE(title(), QStringLiteral("新版本 1.4.0 已下载好"));
    }

    void shoot(const QString& name)
    {
        QApplication::processEvents();
        window()->adjustSize();
        probe.shoot(name);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        const QUrl service(QStringLiteral("http://127.0.0.1:%1/").arg(silent.serverPort()));
        QXServer::useURLs(service, service);
        QVERIFY(rig.ok());
        QVERIFY(!rig.makeBundle(QStringLiteral("r12"), QStringLiteral("12"), QStringLiteral("1.3.0")).isEmpty());
        const QString stage = rig.makeBundle(QStringLiteral("r13"), QStringLiteral("13"));
        QVERIFY(rig.sign(stage));
        QVERIFY(QDir().mkpath(Updater::stageDirectory(13)));
        QVERIFY(QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), stage, Updater::stageDirectory(13)}) == 0);
    }

    void notes_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("repeat");
        QTest::addColumn<bool>("box");
        QTest::addColumn<bool>("scroll");
        QTest::newRow("none") << 0 << false << false << false;
        QTest::newRow("seven") << 7 << false << true << false;
        QTest::newRow("eight") << 8 << false << true << true;
        QTest::newRow("the same line twice") << 2 << true << true << false;
    }
    void notes()
    {
        QFETCH(int, count);
        QFETCH(bool, repeat);
        QFETCH(bool, box);
        QFETCH(bool, scroll);
        ready(count, repeat);
        QCOMPARE(child<QWidget>("notesBox")->isVisible(), box);
        QCOMPARE(noteRows(), count);
        auto* area = child<QScrollArea>("notesScroll");
        QCOMPARE(area != nullptr && area->isVisible(), scroll);
        if (scroll)
            QCOMPARE(area->height(), 180);
        // 440 by 360, or taller when the content laid out at 440 is.
        const QWidget* content = controller->view();
        const int needed = content->hasHeightForWidth() ? content->heightForWidth(440) : content->sizeHint().height();
        QCOMPARE(window()->size(), QSize(440, std::max(360, needed)));
        QVERIFY(!child<SymbolNote>("failure")->isVisible());
        shoot(QStringLiteral("ready-%1").arg(QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-'))));
    }

    void laterAndCloseOnlyHide()
    {
        ready(3);
        QTest::mouseClick(child<QPushButton>("laterButton"), Qt::LeftButton);
        QVERIFY(!updater->showPrompt());
        QTRY_VERIFY(!window()->isVisible());

        // Shown again for the same build after the snooze (its length is UpdaterTest's): the same window, closed from its title bar.
        clock.advance(6 * 3600);
        updater->installNow(); // refused: failed, so the stage is recorded anew
        QVERIFY(!window()->isVisible());
        QVERIFY(awaitFinished(updater->consider(offer(3), false)));
        QTRY_VERIFY(window()->isVisible());
        QVERIFY(window()->close() == false);
        QVERIFY(!window()->isVisible());
        QVERIFY(!updater->showPrompt());
        QCOMPARE(updater->phase().kind, Updater::Phase::Kind::ready);
    }

    void returnInstalls()
    {
        ready(3, false, std::nullopt);
        QTest::keyClick(window(), Qt::Key_Return);
        QCOMPARE(launches, 1);
        QCOMPARE(updater->phase().kind, Updater::Phase::Kind::installing);
        QTRY_VERIFY(!window()->isVisible());
    }

    // Phases other than ready, rendered while the window is on screen.
    void otherPhases()
    {
        ready(3);
        const QString emptyTitle = QStringLiteral("新版本  已下载好");
        // An installation that cannot start keeps the prompt open, says why and what to do, and logs it.
        QTest::mouseClick(child<QPushButton>("installButton"), Qt::LeftButton);
        QTRY_VERIFY(child<SymbolNote>("failure")->isVisible());
        QVERIFY(window()->isVisible());
        QCOMPARE(title(), QStringLiteral("新版本 1.4.0 已下载好"));
        const QString why = QStringLiteral("没能开始更新：磁盘满了。可以再点「立即更新」试一次，或从 %1 下载新版手动安装")
                                .arg(*offer(3).url);
        QCOMPARE(child<SymbolNote>("failure")->text(), why);
        Log::flush();
        QVERIFY(QString::fromUtf8(readFile(Log::file())).contains(QStringLiteral("自动更新：") + why));
        QVERIFY(!updater->manualResult());
        QVERIFY(!child<QWidget>("notesBox")->isVisible());
        shoot(QStringLiteral("failed"));
        QTest::mouseClick(child<QPushButton>("installButton"), Qt::LeftButton); // tried again on request
        QCOMPARE(launches, 2);

        QDir(Updater::stageDirectory(14)).removeRecursively();
        UpdateInfo next = offer(2);
        next.build = 14;
        updater->consider(next, false); // the silent server keeps it downloading
        QTRY_COMPARE(updater->phase().kind, Updater::Phase::Kind::downloading);
        QTRY_VERIFY(!child<SymbolNote>("failure")->isVisible());
        QCOMPARE(title(), emptyTitle);
        shoot(QStringLiteral("downloading"));
    }
};

QTEST_MAIN(UpdatePromptTest)
#include "UpdatePromptTest.moc"
