#include "support/PanelRig.h"
#include "ui/kit/FrameMemory.h"
#include "ui/settings/AboutView.h"
#include "ui/settings/BehaviorSettings.h"
#include "ui/settings/HotkeyRecorderRow.h"
#include "ui/settings/HotkeySettings.h"
#include "ui/settings/SettingsWindowController.h"

#include "delivery/HotkeyCenter.h"
#include "state/Paths.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <X11/keysym.h>

// The settings window offscreen over a hub with fake desktop services: what each control stores, and how
// the hot-key recorder takes key presses.
class SettingsWindowTest : public QObject {
    Q_OBJECT

    TempDataDir data;
    std::unique_ptr<PanelRig> rig;
    std::unique_ptr<SettingsWindowController> window;

    AppState& app() { return rig->app(); }
    BehaviorSettings* behavior() { return window->behavior(); }
    HotkeyRecorderRow* pasteRow() { return window->hotkeys()->pasteRow(); }
    template <typename T> T* find(const char* name) { return window->window()->findChild<T*>(QString::fromLatin1(name)); }

    Settings onDisk() const { return Store(data.path()).loadSettings(); }

    // Centred as well as a window never shown allows: its frame's edges are not known before.
    static bool centred(const QWidget& w)
    {
        const QPoint off = w.frameGeometry().center() - w.screen()->availableGeometry().center();
        return std::abs(off.x()) <= w.frameGeometry().width() - w.width()
            && std::abs(off.y()) <= w.frameGeometry().height() - w.height();
    }

    void open(bool signedIn = false)
    {
        window.reset();
        rig = std::make_unique<PanelRig>(data);
        rig->addServer(QStringLiteral("alpha"));
        rig->addServer(QStringLiteral("beta"));
        if (signedIn)
            rig->signIn();
        rig->build();
        window = std::make_unique<SettingsWindowController>(app());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window->window()));
    }

private Q_SLOTS:
    void init() { open(); }
    void cleanup() { window.reset(); rig.reset(); }

    // Each control stores exactly its own field, once, and the file on disk follows.
    void controlsStoreOneFieldOnce_data()
    {
        QTest::addColumn<std::function<void(SettingsWindowTest&)>>("act");
        QTest::addColumn<std::function<bool(const Settings&)>>("stored");
        using Act = std::function<void(SettingsWindowTest&)>;
        using Check = std::function<bool(const Settings&)>;
        QTest::newRow("long side") << Act([](SettingsWindowTest& t) {
            QComboBox* box = t.behavior()->longSideBox();
            Q_EMIT box->activated(0);
        }) << Check([](const Settings& s) { return s.maxLongSide == 0; });
        QTest::newRow("daily limit up") << Act([](SettingsWindowTest& t) {
            t.behavior()->stepButton(SettingsModel::Stepper::dailyLimit, 1)->click();
        }) << Check([](const Settings& s) { return s.dailyLimit == 550; });
        QTest::newRow("hours down from a day") << Act([](SettingsWindowTest& t) {
            t.behavior()->stepButton(SettingsModel::Stepper::keepHours, -1)->click();
        }) << Check([](const Settings& s) { return s.keepHours == 1; });
        QTest::newRow("save without server") << Act([](SettingsWindowTest& t) {
            t.find<QCheckBox>("saveWhenNoServerToggle")->click();
        }) << Check([](const Settings& s) { return !s.saveWhenNoServer; });
        QTest::newRow("paste mode") << Act([](SettingsWindowTest& t) {
            t.find<QRadioButton>("pasteMode_clipboard")->click();
        }) << Check([](const Settings& s) { return s.pasteMode == PasteMode::clipboard; });
        QTest::newRow("default server") << Act([](SettingsWindowTest& t) {
            Q_EMIT t.behavior()->defaultServerBox()->activated(2);
        }) << Check([](const Settings& s) { return s.defaultServerID && s.defaultServerID->isNull() == false; });
        QTest::newRow("keep-alive") << Act([](SettingsWindowTest& t) {
            // Greyed out in the build tree (nothing is installed there): its wiring, as a bundle's would click.
            Q_EMIT t.find<QCheckBox>("keepAliveToggle")->clicked(true);
        }) << Check([](const Settings& s) { return s.keepAliveAgent; });
        QTest::newRow("test channel") << Act([](SettingsWindowTest& t) {
            t.find<QCheckBox>("testChannelToggle")->click();
        }) << Check([](const Settings& s) { return s.updateChannelTest; });
        QTest::newRow("token on Return") << Act([](SettingsWindowTest& t) {
            QLineEdit* field = t.behavior()->tokenField();
            field->setText(QStringLiteral("[%d] %s"));
            QTest::keyClick(field, Qt::Key_Return);
        }) << Check([](const Settings& s) { return s.tokenFormat == QLatin1String("[%d] %s"); });
        QTest::newRow("remote folder on Return, trimmed") << Act([](SettingsWindowTest& t) {
            QLineEdit* field = t.behavior()->remoteDirField();
            field->setText(QStringLiteral(" /srv/shots "));
            QTest::keyClick(field, Qt::Key_Return);
        }) << Check([](const Settings& s) { return s.defaultRemoteDir == QLatin1String("/srv/shots"); });
        QTest::newRow("terminal list") << Act([](SettingsWindowTest& t) {
            t.behavior()->terminalsEditor()->setPlainText(QStringLiteral("xterm\n\n  kitty "));
        }) << Check([](const Settings& s) { return s.terminalBundleIDs == QStringList{"xterm", "kitty"}; });
    }
    void controlsStoreOneFieldOnce()
    {
        QFETCH(std::function<void(SettingsWindowTest&)>, act);
        QFETCH(std::function<bool(const Settings&)>, stored);
        const Settings before = app().settings();
        QCOMPARE(rig->saves([&] { act(*this); }), 1);
        QVERIFY(stored(app().settings()));
        QVERIFY(!stored(before));
        QCOMPARE(onDisk(), app().settings());
    }

    // A wheel turned over a drop-down while the page scrolls leaves its setting alone; once the user has
    // focused the drop-down, the wheel picks.
    void wheelPicksOnlyInAFocusedChoice()
    {
        for (QComboBox* box : {behavior()->longSideBox(), behavior()->defaultServerBox()}) {
            const int start = box->currentIndex();
            const auto turn = [box, start] {
                QWheelEvent wheel(QPointF(4, 4), box->mapToGlobal(QPointF(4, 4)), {}, QPoint(0, start + 1 < box->count() ? -120 : 120),
                                  Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
                QApplication::sendEvent(box, &wheel);
            };
            QCOMPARE(rig->saves(turn), 0);
            QCOMPARE(box->currentIndex(), start);
            box->setFocus();
            QTRY_VERIFY(box->hasFocus());
            QCOMPARE(rig->saves(turn), 1);
            QVERIFY(box->currentIndex() != start);
        }
    }

    // Free text that is not valid is put back from the settings on Return, and nothing is stored.
    void refusedTextFallsBack()
    {
        QLineEdit* token = behavior()->tokenField();
        token->setText(QStringLiteral("shot%d"));
        QCOMPARE(rig->saves([&] { QTest::keyClick(token, Qt::Key_Return); }), 0);
        QCOMPARE(token->text(), Settings::defaultTokenFormat());

        QLineEdit* dir = behavior()->remoteDirField();
        dir->setText(QStringLiteral("~/.ssh"));
        QCOMPARE(rig->saves([&] { QTest::keyClick(dir, Qt::Key_Return); }), 0);
        QCOMPARE(dir->text(), QStringLiteral("~/tarnel"));

        // Typed but not committed: lost when the page is shown again.
        dir->setText(QStringLiteral("/srv/unsaved"));
        window->tabs()->setCurrentIndex(2);
        window->tabs()->setCurrentIndex(0);
        QCOMPARE(dir->text(), QStringLiteral("~/tarnel"));
    }

    // "列表第一台" stores none; the keep-alive agent locks the login item.
    void defaultServerAndLoginItem()
    {
        QComboBox* box = behavior()->defaultServerBox();
        QCOMPARE(box->count(), 3);
        Q_EMIT box->activated(1);
        QCOMPARE(app().settings().defaultServerID, std::optional<QUuid>(rig->servers().at(0).id));
        Q_EMIT box->activated(0);
        QCOMPARE(app().settings().defaultServerID, std::nullopt);

        // Run from the build tree, nothing starts tarnel at login: the toggle does not claim it, and says why.
        auto* loginItem = find<QCheckBox>("launchAtLoginToggle");
        Settings on = app().settings();
        on.launchAtLogin = true;
        app().setSettings(on);
        QTRY_VERIFY(!find<QLabel>("launchAtLoginNote")->isHidden());
        QVERIFY(!loginItem->isChecked());
        QVERIFY(!loginItem->isEnabled());
        QCOMPARE(find<QLabel>("launchAtLoginNote")->text(), *SettingsModel::loginItemUnavailable(false, false));

        Settings s = app().settings();
        s.defaultServerID = QUuid::createUuid(); // a server that left the list
        s.keepAliveAgent = true;
        app().setSettings(s);
        QTRY_COMPARE(box->currentIndex(), -1);
        QVERIFY(!find<QCheckBox>("launchAtLoginToggle")->isEnabled());
        // Nor is a systemd user service installed: that toggle is greyed out with its note, however saved.
        auto* keepAlive = find<QCheckBox>("keepAliveToggle");
        QVERIFY(!keepAlive->isEnabled() && !keepAlive->isChecked());
        QVERIFY(!find<QLabel>("keepAliveNote")->isHidden());
        QCOMPARE(find<QLabel>("keepAliveNote")->text(), *SettingsModel::keepAliveUnavailable(false, false));
    }

    // A list editor the user types into is not reloaded from the settings it writes (the cursor stays).
    void focusedListEditorIsNotReloaded()
    {
        QPlainTextEdit* editor = behavior()->patternsEditor();
        editor->setFocus();
        QTRY_VERIFY(editor->hasFocus());
        QTest::keyClicks(editor, QStringLiteral("ssh"));
        QTest::keyClick(editor, Qt::Key_Return);
        QTest::keyClick(editor, Qt::Key_Return);
        QTest::keyClicks(editor, QStringLiteral("vim"));
        QTest::qWait(10); // the coalesced refresh runs
        QCOMPARE(editor->toPlainText(), QStringLiteral("ssh\n\nvim"));
        QCOMPARE(app().settings().localTitlePatterns, (QStringList{"ssh", "vim"}));

        // A change from elsewhere shows once the editor is left.
        find<QLineEdit>("tokenField")->setFocus();
        Settings s = app().settings();
        s.localTitlePatterns = {QStringLiteral("tmux")};
        app().setSettings(s);
        QTRY_COMPARE(editor->toPlainText(), QStringLiteral("tmux"));
    }

    // Recording: the key press goes to the recorder, never to the window; Escape changes nothing.
    void recorderTakesKeyPresses()
    {
        window->tabs()->setCurrentIndex(1);
        HotkeyRecorderRow* row = pasteRow();
        row->button()->click();
        QVERIFY(row->recording());
        QCOMPARE(row->button()->text(), QStringLiteral("按下新组合键…"));

        QTest::keyClick(window->window(), Qt::Key_K); // no modifier: refused, still recording
        QCOMPARE(row->hint(), QStringLiteral("要带 Super/Ctrl/Alt，键只认数字、字母、F1～F12"));
        QTest::keyClick(window->window(), Qt::Key_Shift); // a modifier alone is passed over
        QTest::keyClick(window->window(), Qt::Key_Escape);
        QVERIFY(!row->recording());
        QCOMPARE(app().settings().hotkeyPaste, QStringLiteral("⌥⌘3"));
        QVERIFY(!row->hint().isEmpty()); // stays until the next recording

        row->button()->click();
        QVERIFY(row->hint().isEmpty());
        QTest::keyClick(window->window(), Qt::Key_K, Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier);
        QVERIFY(!row->recording());
        QCOMPARE(app().settings().hotkeyPaste, QStringLiteral("⌥⇧⌘K"));
        QCOMPARE(row->valueLabel()->text(), QStringLiteral("Alt+Shift+Super+K"));
    }

    // Registration after recording follows the account gate (closed: HotkeyRecorderX11Test's); a
    // combination another program holds is said.
    void recorderRegistersOnlyWhileCapturing()
    {
        open(true);
        app().applyAccountGate();
        QVERIFY(app().captureOn());
        QCOMPARE(rig->desktop.hotkeys.grabs.size(), 2);
        window->tabs()->setCurrentIndex(1);
        HotkeyRecorderRow* paste = pasteRow();
        paste->start();
        QVERIFY(rig->desktop.hotkeys.grabs.isEmpty());
        // Only one row records: the other one ends, without giving the hot keys back meanwhile.
        window->hotkeys()->panelRow()->start();
        QVERIFY(!paste->recording());
        QVERIFY(rig->desktop.hotkeys.grabs.isEmpty());
        window->hotkeys()->panelRow()->stop();
        QCOMPARE(rig->desktop.hotkeys.grabs.size(), 2);

        rig->desktop.hotkeys.taken << FakeGlobalHotkeys::Combination{XK_j, GlobalHotkeys::Control | GlobalHotkeys::Alt};
        paste->start();
        QTest::keyClick(window->window(), Qt::Key_J, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(app().settings().hotkeyPaste, QStringLiteral("⌃⌥J"));
        QVERIFY(!app().hotkeys().isRegistered(HotkeyCenter::Key::paste));
        QVERIFY(paste->hint().contains(QStringLiteral("别的程序占用")));

        // Hiding the window ends a recording and gives the hot keys back.
        paste->start();
        window->hide();
        QVERIFY(!paste->recording());
        QVERIFY(app().hotkeys().isRegistered(HotkeyCenter::Key::panel));
    }

    // The window comes back centred, not where it was left, on a screen that still exists; else on its own.
    void placeIsRememberedOnAScreenThatExists()
    {
        const QString file = FrameMemory::fileName();
        const QPoint left(80, 20);
        window->window()->move(left);
        window->hide();
        QCOMPARE(fileMode(data.file(file)), 0600);
        window = std::make_unique<SettingsWindowController>(app());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window->window()));
        QTRY_VERIFY(centred(*window->window()));
        window->hide();

        QJsonObject frames = Store(data.path()).read(file).value_or(QJsonObject());
        QJsonObject frame = frames.value(QStringLiteral("TarnelSettings")).toObject();
        QVERIFY(!frame.isEmpty());
        frame.insert(QStringLiteral("screen"), QStringLiteral("HDMI-9"));
        frames.insert(QStringLiteral("TarnelSettings"), frame);
        QVERIFY(Store(data.path()).write(file, frames));
        window = std::make_unique<SettingsWindowController>(app());
        QWidget* w = window->window();
        QRect centred = w->frameGeometry();
        centred.moveCenter(w->screen()->availableGeometry().center());
        QCOMPARE(w->pos(), centred.topLeft());
    }

    void aboutPageActions()
    {
        open(true);
        bool onboarding = false, feedback = false;
        std::optional<bool> login;
        app().openOnboarding = [&] { onboarding = true; };
        app().showFeedbackWindow = [&] { feedback = true; };
        app().showLoginWindow = [&](bool registering) { login = registering; };
        window->about()->refresh();
        window->tabs()->setCurrentIndex(2);
        QDir(Paths::logsDirectory()).removeRecursively();

        find<QPushButton>("reopenOnboardingButton")->click();
        find<QPushButton>("feedbackButton")->click();
        find<QPushButton>("openLogsButton")->click();
        QVERIFY(onboarding && feedback);
        QVERIFY(QDir(Paths::logsDirectory()).exists());
        QCOMPARE(rig->desktop.opener.opened.value(0), QUrl::fromLocalFile(Paths::logsDirectory()));

        QLabel* account = find<QLabel>("accountLine");
        QCOMPARE(account->text(), QStringLiteral("账号 alice（Alice）"));
        QVERIFY(!find<QWidget>("testChannelNote")->isVisibleTo(window->window()));
        find<QCheckBox>("testChannelToggle")->click();
        QVERIFY(find<QWidget>("testChannelNote")->isVisibleTo(window->window()));

        find<QPushButton>("signOutButton")->click();
        QTRY_COMPARE(account->text(), QStringLiteral("还没登录"));
        find<QPushButton>("signInButton")->click();
        QCOMPARE(login, std::optional<bool>(false));
    }
};

QTEST_MAIN(SettingsWindowTest)
#include "SettingsWindowTest.moc"
