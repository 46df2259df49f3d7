#include "delivery/HotkeyCenter.h"
#include "support/FakeGlobalHotkeys.h"
#include "support/TempDataDir.h"

#include <QtTest>

#include <X11/keysym.h>

class HotkeyCenterTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        hotkeys = std::make_unique<FakeGlobalHotkeys>();
        center = std::make_unique<HotkeyCenter>(*hotkeys);
        pastes = panels = 0;
        center->onPaste = [this] { ++pastes; };
        center->onPanel = [this] { ++panels; };
    }

    void pressesReachTheirSlotsOnceInstalled()
    {
        QVERIFY(center->registerHotkey(HotkeyCenter::Key::paste, *HotkeySpec::parse(QStringLiteral("⌥⌘3"))));
        QVERIFY(center->registerHotkey(HotkeyCenter::Key::panel, *HotkeySpec::parse(QStringLiteral("⌥⌘4"))));
        const auto altSuper = GlobalHotkeys::Alt | GlobalHotkeys::Super;
        hotkeys->press(XK_3, altSuper);
        QTest::qWait(10);
        QCOMPARE(pastes, 0); // no handler yet
        QVERIFY(!center->installed());

        center->install();
        center->install();
        QVERIFY(center->installed());
        hotkeys->press(XK_3, altSuper);
        QCOMPARE(pastes, 0); // delivered later, not inside the key event
        QTRY_COMPARE(pastes, 1);
        hotkeys->press(XK_4, altSuper);
        QTRY_COMPARE(panels, 1);
        QCOMPARE(pastes, 1);
    }

    // Every modifier maps to its grab bit; registering a slot again replaces its old combination.
    void registeringMapsAndReplaces()
    {
        center->install();
        QVERIFY(center->registerHotkey(HotkeyCenter::Key::paste, *HotkeySpec::parse(QStringLiteral("⌃⌥⇧⌘F7"))));
        const auto grabbed = hotkeys->grabs.value(int(HotkeyCenter::Key::paste));
        QCOMPARE(grabbed.keysym, quint32(XK_F7));
        QCOMPARE(grabbed.modifiers, GlobalHotkeys::Control | GlobalHotkeys::Alt | GlobalHotkeys::Shift
                     | GlobalHotkeys::Super);
        QVERIFY(center->registerHotkey(HotkeyCenter::Key::paste, *HotkeySpec::parse(QStringLiteral("⌃K"))));
        QCOMPARE(hotkeys->grabs.size(), 1);
        hotkeys->press(XK_F7, grabbed.modifiers);
        hotkeys->press(XK_k, GlobalHotkeys::Control);
        QTRY_COMPARE(pastes, 1);
        QTest::qWait(10);
        QCOMPARE(pastes, 1);
    }

    void failureIsLoggedAndLeavesTheSlotEmpty()
    {
        TempDataDir data;
        center->install();
        QVERIFY(center->registerHotkey(HotkeyCenter::Key::panel, *HotkeySpec::parse(QStringLiteral("⌥⌘4"))));
        hotkeys->taken << FakeGlobalHotkeys::Combination{XK_5, GlobalHotkeys::Alt | GlobalHotkeys::Super};
        QVERIFY(!center->registerHotkey(HotkeyCenter::Key::panel, *HotkeySpec::parse(QStringLiteral("⌥⌘5"))));
        QVERIFY(!center->isRegistered(HotkeyCenter::Key::panel));
        QVERIFY(hotkeys->grabs.isEmpty()); // the old ⌥⌘4 is gone too
        QVERIFY(data.logLines().last().endsWith(
            QStringLiteral("注册热键 panel 失败（BadAccess，组合键已被别的程序占用）")));
    }

    // A press already on its way when the keys are removed (the recorder starting) does nothing; the handler
    // stays installed for the keys registered afterwards.
    void uninstallAllDropsQueuedPressesAndKeepsTheHandler()
    {
        center->install();
        center->registerHotkey(HotkeyCenter::Key::paste, *HotkeySpec::parse(QStringLiteral("⌥⌘3")));
        center->registerHotkey(HotkeyCenter::Key::panel, *HotkeySpec::parse(QStringLiteral("⌥⌘4")));
        hotkeys->press(XK_3, GlobalHotkeys::Alt | GlobalHotkeys::Super);
        center->uninstallAll();
        QTest::qWait(20);
        QCOMPARE(pastes, 0);
        QVERIFY(hotkeys->grabs.isEmpty());
        QVERIFY(center->installed());
        center->registerHotkey(HotkeyCenter::Key::paste, *HotkeySpec::parse(QStringLiteral("⌥⌘3")));
        hotkeys->press(XK_3, GlobalHotkeys::Alt | GlobalHotkeys::Super);
        QTRY_COMPARE(pastes, 1);
    }

private:
    std::unique_ptr<FakeGlobalHotkeys> hotkeys;
    std::unique_ptr<HotkeyCenter> center;
    int pastes = 0;
    int panels = 0;
};

QTEST_GUILESS_MAIN(HotkeyCenterTest)
#include "HotkeyCenterTest.moc"
