#include "app/AppState.h"
#include "capture/ClipboardWatcher.h"
#include "capture/ShotStore.h"
#include "state/Store.h"
#include "support/FakeDesktop.h"
#include "support/TempDataDir.h"
#include "ui/shell/StatusItem.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QTest>
#include <QUrl>

class StatusItemTest : public QObject {
    Q_OBJECT
    TempDataDir data;
    FakeDesktop desktop;

    static QAction* action(StatusItem& item, const char* name)
    {
        return item.menu()->findChild<QAction*>(QString::fromLatin1(name));
    }

private Q_SLOTS:
    void menuFollowsAccountAndPause()
    {
        Store store(data.path());
        AppState app(store, desktop.services());
        bool quitAsked = false;
        StatusItem item(app, [&quitAsked] { quitAsked = true; });

        // Signed out: the login entry is offered and the tooltip says why nothing is captured.
        QCOMPARE(item.toolTip(), QStringLiteral("tarnel · 还没登录"));
        QVERIFY(action(item, "loginAction")->isVisible());
        QVERIFY(!action(item, "signOutAction")->isVisible());
        bool loginShown = false;
        app.showLoginWindow = [&loginShown](bool registering) { loginShown = !registering; };
        action(item, "loginAction")->trigger();
        QVERIFY(loginShown);
        bool feedbackShown = false;
        app.showFeedbackWindow = [&feedbackShown] { feedbackShown = true; };
        action(item, "feedbackAction")->trigger();
        QVERIFY(feedbackShown);

        // Pause reaches both the shot store and the clipboard watcher, and the entry offers the way back.
        action(item, "pauseAction")->trigger();
        QVERIFY(app.shots().paused());
        QVERIFY(app.watcher().isPaused());
        QCOMPARE(action(item, "pauseAction")->text(), QStringLiteral("▶︎ 继续上传"));
        action(item, "pauseAction")->trigger();
        QVERIFY(!app.shots().paused() && !app.watcher().isPaused());
        QCOMPARE(action(item, "pauseAction")->text(), QStringLiteral("⏸ 暂停上传"));
        const QStringList lines = data.logLines();
        QVERIFY(lines.size() >= 2 && lines.last().endsWith(QStringLiteral("] 截图：继续上传")));
        QVERIFY(lines[lines.size() - 2].endsWith(QStringLiteral("] 截图：已暂停上传，复制的截图不存也不传")));

        // The shot folder, made first, goes through the desktop's opener, and a desktop that cannot open it
        // says so.
        QDir(app.shots().shotsDirectory()).removeRecursively();
        action(item, "folderAction")->trigger();
        QCOMPARE(desktop.opener.opened.value(0), QUrl::fromLocalFile(app.shots().shotsDirectory()));
        QVERIFY(QFileInfo(app.shots().shotsDirectory()).isDir());
        desktop.opener.works = false;
        action(item, "folderAction")->trigger();
        const QString folder = app.shots().shotsDirectory();
        QVERIFY(desktop.flash.lines().value(0).startsWith(QStringLiteral("打不开「") + folder + QStringLiteral("」：")));
        // Handed over, but no application took it (xdg-open with no file manager): said too, with the path.
        desktop.opener.works = true;
        action(item, "folderAction")->trigger();
        desktop.opener.failLater(QStringLiteral("没有文件管理器"));
        QCOMPARE(desktop.flash.lines().value(1), QStringLiteral("打不开「") + folder + QStringLiteral("」：没有文件管理器"));

        action(item, "quitAction")->trigger();
        QVERIFY(quitAsked);
    }
};

QTEST_MAIN(StatusItemTest)
#include "StatusItemTest.moc"
