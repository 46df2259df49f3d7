#include "account/Account.h"
#include "capture/ClipboardWatcher.h"
#include "capture/ShotStore.h"
#include "delivery/Uploader.h"
#include "servers/ServerRegistry.h"
#include "support/FakeClock.h"
#include "support/LabelFit.h"
#include "support/PanelRig.h"
#include "ui/kit/KeyedCardGrid.h"
#include "ui/kit/SegmentedControl.h"
#include "ui/panel/GateBar.h"
#include "ui/panel/PanelView.h"
#include "ui/panel/PasteHint.h"
#include "ui/panel/ShotCard.h"
#include "ui/panel/ShotsPage.h"
#include "ui/panel/ThumbnailView.h"
#include "ui/shell/PanelController.h"

#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextDocumentFragment>
#include <QTest>
#include <QToolButton>

// The panel as a user works it, offscreen, over real shot files and records.
class PanelViewTest : public QObject {
    Q_OBJECT

    const QDateTime noon = QDateTime(QDate(2025, 3, 14), QTime(12, 0));
    TempDataDir data;
    std::unique_ptr<FakeClock> clock;
    std::unique_ptr<PanelRig> rig;
    std::unique_ptr<PanelController> panel;
    QUuid done, missing;

    AppState& app() { return rig->app(); }
    PanelView* view() { return panel->view(); }
    ShotCard* card(const QString& name) { return view()->shotsPage()->card(name); }
    QString shotName(int index) { return app().shots().shots().at(index).name; }
    template <typename T> T* child(QWidget* in, const char* name) { return in->findChild<T*>(QString::fromLatin1(name)); }
    void click(QWidget* in, const char* name)
    {
        auto* button = child<QAbstractButton>(in, name);
        QVERIFY2(button && button->isVisible(), name);
        button->click();
        view()->flush();
    }

private Q_SLOTS:
    // Three shots over two days, the middle one of today chosen; one destination has them, one does not.
    void init()
    {
        clock = std::make_unique<FakeClock>(noon);
        rig = std::make_unique<PanelRig>(data);
        rig->signIn();
        done = rig->addServer(QStringLiteral("devbox")).id;
        missing = rig->addServer(QStringLiteral("gpu")).id;
        for (const QDateTime& when : {noon.addDays(-1), noon.addSecs(-60), noon.addSecs(-30)}) {
            Shot& shot = rig->addShot(when, QSize(800, 450));
            shot.uploads.insert(done.toString(QUuid::WithoutBraces).toUpper(), Upload{Upload::State::done, {}, {}, {}});
        }
        rig->build();
        panel = std::make_unique<PanelController>(app());
        panel->show(std::nullopt, PanelTab::shots);
        QVERIFY(QTest::qWaitForWindowExposed(panel->window()));
        view()->flush();
    }

    void cleanup()
    {
        panel.reset();
        rig.reset();
        clock.reset();
    }

    void showsEveryDayNewestFirstAndTodaysCount()
    {
        auto* picker = child<SegmentedControl>(view(), "pagePicker");
        QCOMPARE(picker->label(0), QStringLiteral("截图 2"));
        QCOMPARE(view()->shotsPage()->grid()->keys(), QStringList({shotName(2), shotName(1), shotName(0)}));
        QCOMPARE(child<QWidget>(card(shotName(2)), "badge")->property("text").toString(), QStringLiteral("最新"));
        QTRY_VERIFY(!card(shotName(0))->thumbnail()->picture().isNull());
    }

    // The thumbnail and the button choose a shot and clear the choice; the header hint follows.
    void chooseAndClear()
    {
        ShotCard* older = card(shotName(1));
        QTest::mouseClick(older->thumbnail(), Qt::LeftButton);
        view()->flush();
        QCOMPARE(app().shots().selected(), shotName(1));
        QVERIFY(older->isSelected());
        QCOMPARE(child<PasteHint>(view(), "pasteHint")->choice(), QStringLiteral("截图1"));
        QCOMPARE(child<QWidget>(older, "badge")->property("text").toString(), QStringLiteral("✔ 下次粘这张"));
        click(card(shotName(2)), "selectButton"); // choosing another moves the choice
        QCOMPARE(app().shots().selected(), shotName(2));
        QVERIFY(!older->isSelected());
        click(card(shotName(2)), "selectButton");
        QCOMPARE(app().shots().selected(), std::nullopt);
        QCOMPARE(child<PasteHint>(view(), "pasteHint")->choice(), QStringLiteral("最新一张"));
    }

    // Copy puts the path a paste would type on the clipboard; view hides the panel and opens the file, or
    // says why it could not.
    void copyAndView()
    {
        ShotCard* newest = card(shotName(2));
        click(newest, "copyButton");
        QCOMPARE(rig->desktop.clipboard.text(), QStringLiteral("/home/dev/tarnel/shots/") + shotName(2));
        QCOMPARE(rig->desktop.flash.lines().last(), QStringLiteral("📋 已复制 ") + shotName(2));
        // Nothing on this desktop opens files: the panel stays and a notice says so.
        rig->desktop.opener.works = false;
        click(newest, "viewButton");
        rig->desktop.opener.works = true;
        QVERIFY(!panel->window()->isHidden());
        QVERIFY2(rig->desktop.flash.lines().last().startsWith(QStringLiteral("打不开「") + app().shots().shots().at(2).localPath + QStringLiteral("」")),
                 qPrintable(rig->desktop.flash.lines().last()));
        click(newest, "viewButton");
        QVERIFY(panel->window()->isHidden());
        QCOMPARE(rig->desktop.opener.opened.last(), QUrl::fromLocalFile(app().shots().shots().at(2).localPath));
    }

    // Send again goes to the destination that misses the shot only.
    void sendAgainToTheMissing()
    {
        QSignalSpy finished(&app().uploader(), &Uploader::roundFinished);
        click(card(shotName(2)), "fillButton");
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        // The made-up host cannot be reached: the attempt is recorded on its mark, the other stays done.
        QCOMPARE(app().shots().shots().at(2).upload(missing)->state, Upload::State::failed);
        QCOMPARE(app().shots().shots().at(2).upload(done)->state, Upload::State::done);
        view()->flush();
        QCOMPARE(card(shotName(2))->findChildren<QLabel*>(QStringLiteral("uploadMark")).at(1)->text(), QStringLiteral("gpu ❌"));
    }

    // Six destinations on one short line: the failure and the counts keep their place, "+N" stands for
    // what is left out and its tooltip lists every mark with the failure's reason.
    void shortStatusLineKeepsFailuresAndCounts()
    {
        QList<Server> servers = app().registry().servers();
        for (const char* name : {"alpha", "beta", "gamma", "delta"}) {
            Server extra;
            extra.name = QString::fromLatin1(name);
            extra.setup.keyInstalled = true;
            servers << extra;
        }
        Shot shot = app().shots().shots().at(2);
        shot.uploads.insert(servers.last().id.toString(QUuid::WithoutBraces).toUpper(),
                            Upload{Upload::State::failed, {}, QStringLiteral("连不上：<b>超时</b>"), {}}); // a server's words, shown as they are
        shot.pasted = 2;
        shot.updated = 1;
        ShotCard* c = card(shot.name);
        c->setContent(shot, servers, std::nullopt, false, true);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);

        auto* line = child<QWidget>(c, "statusLine");
        int hidden = 0;
        for (QLabel* mark : c->findChildren<QLabel*>(QStringLiteral("uploadMark")))
            hidden += mark->isVisibleTo(c) ? 0 : 1;
        QVERIFY(hidden > 0);
        QLabel* failed = c->findChildren<QLabel*>(QStringLiteral("uploadMark")).last();
        QCOMPARE(failed->text(), QStringLiteral("delta ❌"));
        QVERIFY(failed->isVisibleTo(c));
        QVERIFY(child<QLabel>(c, "pastedLabel")->isVisibleTo(c));
        QVERIFY(child<QLabel>(c, "updatedLabel")->isVisibleTo(c));
        auto* more = child<QLabel>(c, "moreLabel");
        QVERIFY(more->isVisibleTo(c));
        QCOMPARE(more->text(), QStringLiteral("+%1").arg(hidden));
        QVERIFY(more->geometry().right() < line->width());
        const QString all = QTextDocumentFragment::fromHtml(more->toolTip()).toPlainText(); // as shown
        for (const Server& server : std::as_const(servers))
            QVERIFY2(all.contains(server.name), qPrintable(server.name));
        QVERIFY(all.contains(QStringLiteral("delta ❌：连不上：<b>超时</b>")));
        QVERIFY(all.contains(QStringLiteral("📝 粘过 2 次")) && all.contains(QStringLiteral("🔁 更新 1 次")));

        // Back to two destinations: everything fits and "+N" goes.
        c->setContent(app().shots().shots().at(2), app().registry().servers(), std::nullopt, false, true);
        QVERIFY(!more->isVisibleTo(c));
        for (QLabel* mark : c->findChildren<QLabel*>(QStringLiteral("uploadMark")))
            QVERIFY(mark->isVisibleTo(c));
    }

    // At the least width of the panel the hint keeps the hot key and the chosen shot's number whole, in
    // fewer words, with the whole text as its tooltip; the panel widens only as far as that needs. Given
    // room, the whole text shows.
    void narrowHeaderKeepsTheChosenNumber()
    {
        app().shots().setSelected(shotName(1));
        app().shots().setPaused(true);
        auto* hint = child<PasteHint>(view(), "pasteHint");
        const auto atWidth = [&](int width) {
            panel->window()->resize(width, PanelController::minHeight);
            view()->flush();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        };
        atWidth(PanelController::minWidth);
        QCOMPARE(hint->choice(), QStringLiteral("截图1"));
        QVERIFY2(hint->shownText().startsWith(QStringLiteral("Alt+Super+3 ")) && hint->shownText().endsWith(QStringLiteral("#1")),
                 qPrintable(hint->shownText()));
        QCOMPARE(hint->toolTip(), QStringLiteral("Alt+Super+3 粘 截图1"));
        QVERIFY(hint->width() >= hint->minimumSizeHint().width());
        QCOMPARE(panel->window()->width(), std::max(PanelController::minWidth, panel->window()->minimumSizeHint().width()));

        app().shots().setSelected(std::nullopt);
        atWidth(PanelController::minWidth);
        QVERIFY2(hint->shownText().startsWith(QStringLiteral("Alt+Super+3 ")) && hint->shownText().endsWith(QStringLiteral("最新")),
                 qPrintable(hint->shownText()));
        QCOMPARE(hint->toolTip(), QStringLiteral("Alt+Super+3 粘 最新一张"));

        atWidth(1200);
        QCOMPARE(hint->shownText(), QStringLiteral("Alt+Super+3 粘 最新一张"));
        QVERIFY(hint->toolTip().isEmpty());

        // At every width the text shown fits as drawn (the chosen part bold), so nothing of it is cut.
        app().shots().setSelected(shotName(1));
        QFont bold = hint->font();
        bold.setBold(true);
        for (int width = PanelController::minWidth; width <= 1000; width += 2) {
            atWidth(width);
            const QString shown = hint->shownText();
            const int split = int(shown.lastIndexOf(QLatin1Char(' '))) + 1;
            const qreal drawn = QFontMetricsF(hint->font()).horizontalAdvance(shown.left(split))
                              + QFontMetricsF(bold).horizontalAdvance(shown.mid(split));
            QVERIFY2(shown.endsWith(QLatin1Char('1')) && drawn <= hint->width(),
                     qPrintable(QStringLiteral("%1 px: %2 needs %3 in %4").arg(width).arg(shown).arg(drawn).arg(hint->width())));
            QCOMPARE(hint->toolTip().isEmpty(), shown == QStringLiteral("Alt+Super+3 粘 截图1"));
        }
        atWidth(PanelController::minWidth);
        VERIFY_LABELS_FIT(*panel->window());
    }

    // The page's list follows shots that come (at the end, or with one gone meanwhile) and go.
    void listFollowsNewAndRemovedShots()
    {
        const auto names = [this] {
            QStringList newestFirst;
            for (const Shot& s : app().shots().shots())
                newestFirst.prepend(s.name);
            return newestFirst;
        };
        Settings s = app().settings();
        for (int i = 0; i < 3; ++i) {
            QVERIFY(app().shots().handle(PanelRig::picture(QSize(500 + i, 300), 40 + i), s, true,
                                         noon.addSecs(10 * (i + 1))).outcome == ShotStore::Outcome::stored);
            if (i == 1)
                QVERIFY(app().shots().remove(shotName(1)));
            view()->flush();
            QCOMPARE(view()->shotsPage()->grid()->keys(), names());
        }
        QVERIFY(app().shots().remove(shotName(4)));
        view()->flush();
        QCOMPARE(view()->shotsPage()->grid()->keys(), names());
        QCOMPARE(child<QWidget>(card(names().first()), "badge")->property("text").toString(), QStringLiteral("最新"));
    }

    void deleteOneThenClearAll()
    {
        const QString path = app().shots().shots().at(1).localPath;
        QPointer<ShotCard> gone = card(shotName(1));
        click(gone, "deleteButton");
        QCOMPARE(app().shots().shots().size(), 2);
        QTRY_VERIFY(!QFile::exists(path)); // files go once the state without them is on disk
        QTRY_VERIFY(gone.isNull());

        click(view(), "clearButton");
        QVERIFY(app().shots().shots().isEmpty());
        QVERIFY(child<QWidget>(view(), "emptyState")->isVisible());
        click(view(), "toServersButton");
        QCOMPARE(app().panelTab(), PanelTab::servers);
    }

    void pauseReachesStoreAndWatcher()
    {
        click(view(), "pauseButton");
        QVERIFY(app().shots().paused() && app().watcher().isPaused());
        QCOMPARE(child<QToolButton>(view(), "pauseButton")->text(), QStringLiteral("▶\uFE0E 继续上传"));
        QCOMPARE(child<QLabel>(view(), "statusText")->property("colorRole").toString(), QStringLiteral("gray"));
        click(view(), "pauseButton");
        QVERIFY(!app().shots().paused() && !app().watcher().isPaused());
    }

    void folderIsMadeAndOpened()
    {
        const QString shots = app().shots().shotsDirectory();
        QVERIFY(QDir(shots).removeRecursively());
        click(view(), "folderButton");
        QVERIFY(QFileInfo(shots).isDir());
        QCOMPARE(rig->desktop.opener.opened.last(), QUrl::fromLocalFile(shots));
    }

    // A new shot builds one card; every other card keeps its widget and its picture.
    void republicationKeepsCardsAndPictures()
    {
        QHash<QString, QPair<ShotCard*, qint64>> before;
        for (int i = 0; i < 3; ++i) {
            ShotCard* c = card(shotName(i));
            QTRY_VERIFY(!c->thumbnail()->picture().isNull());
            before.insert(shotName(i), {c, c->thumbnail()->picture().cacheKey()});
        }
        const ShotStore::Result added = app().shots().handle(PanelRig::picture(QSize(640, 360), 9), app().settings(), true, noon);
        QCOMPARE(added.outcome, ShotStore::Outcome::stored);
        view()->flush();
        const Shot extra = *app().shots().shot(added.shotName);
        QVERIFY(card(extra.name));
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            QCOMPARE(card(it.key()), it.value().first);
            QCOMPARE(card(it.key())->thumbnail()->picture().cacheKey(), it.value().second);
        }
        QCOMPARE(child<QWidget>(card(extra.name), "badge")->property("text").toString(), QStringLiteral("最新"));
        QVERIFY(child<QWidget>(card(shotName(2)), "badge")->isHidden());
    }

    // Signed out: the gate bar explains, and Return opens the login window (sign-in) after hiding the panel.
    void gateBarOpensLogin()
    {
        QVERIFY(view()->gateBar()->isHidden());
        app().account().signOut();
        view()->flush();
        QVERIFY(view()->gateBar()->isVisible());
        QCOMPARE(child<QLabel>(view(), "statusText")->text(), QStringLiteral("没在监听"));
        std::optional<bool> registering;
        app().showLoginWindow = [&registering](bool r) { registering = r; };
        QTest::keyClick(view(), Qt::Key_Return);
        QCOMPARE(registering, false);
        QVERIFY(panel->window()->isHidden());
    }

    // Picking a page is remembered; the servers page has its own header.
    void pickerSwitchesPage()
    {
        child<SegmentedControl>(view(), "pagePicker")->segment(1)->click();
        view()->flush();
        QCOMPARE(app().panelTab(), PanelTab::servers);
        QCOMPARE(app().settings().lastPanelTab, QStringLiteral("servers"));
        QCOMPARE(child<QLabel>(view(), "serversHeaderText")->text(), QStringLiteral("没有连上的服务器"));
        click(view(), "recheckAllButton");
        QCOMPARE(app().registry().status(done).kind, ServerRegistry::Status::Kind::connecting);
        app().registry().waitForTasks();
    }
};

QTEST_MAIN(PanelViewTest)
#include "PanelViewTest.moc"
