#include "platform/x11/X11GlobalHotkeys.h"
#include "support/TestXterm.h"

#include <QSignalSpy>
#include <QtTest>

#include <xcb/xcb.h>

#include <X11/keysym.h>

class X11GlobalHotkeysTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!onX11WithTools({QStringLiteral("xdotool")}))
            QSKIP("needs an X server (DISPLAY) and xdotool");
        hotkeys = X11GlobalHotkeys::forApplication();
        QVERIFY(hotkeys);
    }

    void cleanup()
    {
        hotkeys->release(1);
        hotkeys->release(2);
    }

    void firesOnPressAndNotAfterRelease()
    {
        QSignalSpy spy(hotkeys.get(), &GlobalHotkeys::pressed);
        QVERIFY(hotkeys->grab(1, XK_3, GlobalHotkeys::Alt | GlobalHotkeys::Super).ok);
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("alt+super+3")}));
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 1);

        // Other modifiers on the same key are someone else's business.
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+3")}));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("super+3")}));
        QTest::qWait(200);
        QCOMPARE(spy.count(), 1);

        hotkeys->release(1);
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("alt+super+3")}));
        QTest::qWait(200);
        QCOMPARE(spy.count(), 1);
    }

    void firesWithLockKeysOn_data()
    {
        QTest::addColumn<QStringList>("locks");
        QTest::newRow("NumLock") << QStringList{QStringLiteral("Num_Lock")};
        QTest::newRow("CapsLock") << QStringList{QStringLiteral("Caps_Lock")};
        QTest::newRow("both") << QStringList{QStringLiteral("Num_Lock"), QStringLiteral("Caps_Lock")};
    }

    void firesWithLockKeysOn()
    {
        QFETCH(QStringList, locks);
        QSignalSpy spy(hotkeys.get(), &GlobalHotkeys::pressed);
        QVERIFY(hotkeys->grab(2, XK_k, GlobalHotkeys::Control | GlobalHotkeys::Shift).ok);
        for (const QString& lock : locks)
            QVERIFY(xdotool({QStringLiteral("key"), lock}));
        const bool pressed = xdotool({QStringLiteral("key"), QStringLiteral("ctrl+shift+k")});
        for (const QString& lock : locks)
            QVERIFY(xdotool({QStringLiteral("key"), lock})); // back off
        QVERIFY(pressed);
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 2);
    }

    // Another program holds the combination: the grab fails with the server's reason, and we hold nothing.
    void reportsACombinationTakenByAnotherProgram()
    {
        xcb_connection_t* other = xcb_connect(nullptr, nullptr);
        QVERIFY(!xcb_connection_has_error(other));
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
        QSignalSpy spy(hotkeys.get(), &GlobalHotkeys::pressed);
        QVERIFY(hotkeys->grab(1, XK_F12, GlobalHotkeys::Super | GlobalHotkeys::Alt).ok);
        hotkeys->release(1);

        // The other program takes only the CapsLock variant: the plain variants we grab first must be given back.
        const auto code = keycodeOf(other, XK_F12);
        QVERIFY(code);
        QVERIFY(!xcb_request_check(other, xcb_grab_key_checked(other, 1, root,
                                                               XCB_MOD_MASK_4 | XCB_MOD_MASK_1 | XCB_MOD_MASK_LOCK,
                                                               *code, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
        const auto grab = hotkeys->grab(1, XK_F12, GlobalHotkeys::Super | GlobalHotkeys::Alt);
        QVERIFY(!grab.ok);
        QVERIFY2(grab.status.contains(QLatin1String("BadAccess")), qPrintable(grab.status));
        // Nothing of ours is left behind: the plain variant is free for others.
        QVERIFY(!xcb_request_check(other, xcb_grab_key_checked(other, 1, root, XCB_MOD_MASK_4 | XCB_MOD_MASK_1, *code,
                                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));

        xcb_disconnect(other); // its grabs go with it
        QTest::qWait(100);
        QVERIFY(hotkeys->grab(1, XK_F12, GlobalHotkeys::Super | GlobalHotkeys::Alt).ok);
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("super+alt+F12")}));
        QTRY_COMPARE(spy.count(), 1);
    }

private:
    static std::optional<xcb_keycode_t> keycodeOf(xcb_connection_t* connection, xcb_keysym_t sym)
    {
        const xcb_setup_t* setup = xcb_get_setup(connection);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        auto* reply = xcb_get_keyboard_mapping_reply(
            connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, quint8(count)), nullptr);
        if (!reply)
            return std::nullopt;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
        std::optional<xcb_keycode_t> code;
        for (int i = 0; i < xcb_get_keyboard_mapping_keysyms_length(reply) && !code; ++i)
            if (syms[i] == sym)
                code = xcb_keycode_t(setup->min_keycode + i / reply->keysyms_per_keycode);
        free(reply);
        return code;
    }

    std::unique_ptr<X11GlobalHotkeys> hotkeys;
};

QTEST_MAIN(X11GlobalHotkeysTest)
#include "X11GlobalHotkeysTest.moc"
