#include "account/Account.h"
#include "delivery/HotkeyCenter.h"
#include "platform/x11/X11GlobalHotkeys.h"
#include "support/PanelRig.h"
#include "support/TestXterm.h"
#include "ui/settings/HotkeyRecorderRow.h"
#include "ui/settings/HotkeySettings.h"
#include "ui/settings/SettingsWindowController.h"

#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

#include <X11/keysym.h>

// The hot-key recorder on a real X server: key presses come from XTest (xdotool), the new combination is
// grabbed as a real global hot key.
class HotkeyRecorderX11Test : public QObject {
    Q_OBJECT

    TempDataDir data;
    std::unique_ptr<X11GlobalHotkeys> hotkeys;
    std::unique_ptr<PanelRig> rig;
    std::unique_ptr<SettingsWindowController> window;

    AppState& app() { return rig->app(); }
    HotkeyRecorderRow* row() { return window->hotkeys()->pasteRow(); }

    static bool press(const QString& keys) { return xdotool({QStringLiteral("key"), keys}); }

    bool focused()
    {
        window->show();
        return QTest::qWaitForWindowActive(window->window());
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!onX11WithTools({QStringLiteral("xdotool")}))
            QSKIP("needs an X server (DISPLAY) and xdotool");
        hotkeys = X11GlobalHotkeys::forApplication();
        QVERIFY(hotkeys);
        rig = std::make_unique<PanelRig>(data);
        rig->signIn();
        rig->build(hotkeys.get());
        app().applyAccountGate();
        QVERIFY(app().captureOn());
        window = std::make_unique<SettingsWindowController>(app());
        window->tabs()->setCurrentIndex(1);
        QVERIFY(focused());
    }

    void cleanupTestCase()
    {
        window.reset();
        rig.reset();
        hotkeys.reset();
    }

    // What a combination pressed on the keyboard is stored as.
    void recordsThePhysicalKey_data()
    {
        QTest::addColumn<QStringList>("before"); // pressed first, and again afterwards (lock keys)
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("stored");
        QTest::newRow("shift gives the digit, not its symbol") << QStringList{} << "alt+shift+3" << "⌥⇧3";
        QTest::newRow("NumLock on") << QStringList{"Num_Lock"} << "ctrl+super+k" << "⌃⌘K";
        QTest::newRow("a lone modifier first") << QStringList{"super"} << "alt+super+F5" << "⌥⌘F5";
        QTest::newRow("the current hot key reaches the recorder") << QStringList{} << "alt+super+3" << "⌥⌘3";
    }
    void recordsThePhysicalKey()
    {
        QFETCH(QStringList, before);
        QFETCH(QString, keys);
        QFETCH(QString, stored);
        QVERIFY(focused());
        row()->start();
        for (const QString& key : before)
            QVERIFY(press(key));
        QVERIFY(press(keys));
        QTRY_VERIFY(!row()->recording());
        for (const QString& key : before)
            if (key.endsWith(QLatin1String("_Lock")))
                QVERIFY(press(key));
        QCOMPARE(app().settings().hotkeyPaste, stored);
        QCOMPARE(row()->hint(), QString());
    }

    // The recorded combination is a working global hot key afterwards, with the window in the background too.
    void newCombinationFires()
    {
        QVERIFY(focused());
        row()->start();
        QVERIFY(press(QStringLiteral("ctrl+alt+7")));
        QTRY_VERIFY(!row()->recording());
        QCOMPARE(app().settings().hotkeyPaste, QStringLiteral("⌃⌥7"));
        QVERIFY(app().hotkeys().isRegistered(HotkeyCenter::Key::paste));
        window->hide();
        QSignalSpy fired(hotkeys.get(), &GlobalHotkeys::pressed);
        QVERIFY(press(QStringLiteral("ctrl+alt+7")));
        QTRY_COMPARE(fired.count(), 1);
        QCOMPARE(fired.at(0).at(0).toInt(), int(HotkeyCenter::Key::paste));
    }

    // Once the account gate has closed, recording grabs nothing.
    void nothingRegisteredWhileTheGateIsClosed()
    {
        app().account().signOut();
        QTRY_VERIFY(!app().captureOn());
        QVERIFY(focused());
        row()->start();
        QVERIFY(press(QStringLiteral("ctrl+alt+8")));
        QTRY_VERIFY(!row()->recording());
        QCOMPARE(app().settings().hotkeyPaste, QStringLiteral("⌃⌥8"));
        QVERIFY(!app().hotkeys().isRegistered(HotkeyCenter::Key::paste));
        QVERIFY(!app().hotkeys().isRegistered(HotkeyCenter::Key::panel));
        window->hide();
        // A sentinel grabbed by hand, pressed after: once it arrives, the press before it has been seen.
        const int sentinel = 7;
        QVERIFY(hotkeys->grab(sentinel, XK_9, GlobalHotkeys::Control | GlobalHotkeys::Alt).ok);
        QSignalSpy fired(hotkeys.get(), &GlobalHotkeys::pressed);
        QVERIFY(press(QStringLiteral("ctrl+alt+8")));
        QVERIFY(press(QStringLiteral("ctrl+alt+9")));
        QTRY_COMPARE(fired.count(), 1);
        QCOMPARE(fired.at(0).at(0).toInt(), sentinel);
        hotkeys->release(sentinel);
    }
};

QTEST_MAIN(HotkeyRecorderX11Test)
#include "HotkeyRecorderX11Test.moc"
