#include "platform/x11/X11Display.h"
#include "platform/x11/X11Keyboard.h"
#include "support/TestXterm.h"

#include <QApplication>
#include <QLineEdit>
#include <QtTest>

#include <X11/Xlib.h>

#include <atomic>
#include <thread>

namespace {
QByteArray keyboardMapping()
{
    Display* display = X11Display::get();
    int minCode = 0, maxCode = 0, perCode = 0;
    XDisplayKeycodes(display, &minCode, &maxCode);
    KeySym* syms = XGetKeyboardMapping(display, KeyCode(minCode), maxCode - minCode + 1, &perCode);
    QByteArray bytes(reinterpret_cast<const char*>(syms), (maxCode - minCode + 1) * perCode * int(sizeof(KeySym)));
    XFree(syms);
    return bytes;
}

QString distinctChinese(int count, char32_t first = 0x4E00)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += QString::fromUcs4(reinterpret_cast<const char32_t*>(&(first)), 1), ++first;
    return text;
}
}

class X11KeyboardTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!haveX11Tools({QStringLiteral("xterm"), QStringLiteral("xdotool")}))
            QSKIP("needs an X server (DISPLAY) with xterm and xdotool");
        QVERIFY(terminal.start());
        pristineMapping = keyboardMapping();
    }

    void cleanup() { xdotool({QStringLiteral("keyup"), QStringLiteral("alt+super+ctrl+shift")}); }

    void typesByteExact_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("shell metacharacters")
            << QStringLiteral("shot12: /tmp/$(echo x);a|b&c<d>e\"f'g`h*i?j[k]l{m}n!o#p%q^r~s=t+u,v.w:x@y\\z ");
        QTest::newRow("long path")
            << QStringLiteral("shot3: /home/someone/tarnel/shots/") + QString(300, QLatin1Char('a'))
                + QStringLiteral("/20250101-120000-3.png ");
        QTest::newRow("36 chinese") << QStringLiteral("截图七：") + distinctChinese(36, 0x5F00);
        QTest::newRow("repeated chinese") << QStringLiteral("中文中文，路径/中/文 ");
        QTest::newRow("spaces") << QStringLiteral("shot4: /home/a user/My Shots/20250101-120000-4.png ");
        QTest::newRow("beyond latin-1 and emoji") << QStringLiteral("é ß Ж € 📋 ✅ end");
        // More distinct characters than the keyboard has spare keys: typed batch after batch.
        QTest::newRow("more than the spare keys") << distinctChinese(400, 0x6000);
    }

    void typesByteExact()
    {
        QFETCH(QString, text);
        QVERIFY(terminal.activate());
        const QByteArray before = terminal.received();
        const auto result = keyboard.type(text);
        QVERIFY2(result.ok, qPrintable(result.message));
        const QByteArray expected = before + text.toUtf8();
        QCOMPARE(terminal.waitFor(expected.size(), 15000), expected);
        QTRY_COMPARE(keyboardMapping(), pristineMapping); // borrowed keys given back
    }

    // Pressed again before the borrowed keys went back: they are borrowed anew, never read as the old symbols.
    void typesRightAfterAnotherTyping()
    {
        QVERIFY(terminal.activate());
        const QByteArray before = terminal.received();
        const QStringList texts{QStringLiteral("中文中文"), QStringLiteral("中文截图"), QStringLiteral("图截文中 ok")};
        for (const QString& text : texts)
            QVERIFY(keyboard.type(text).ok);
        const QByteArray expected = texts.join(QString()).toUtf8();
        QCOMPARE(terminal.waitFor(before.size() + expected.size()).mid(before.size()), expected);
        QTRY_COMPARE(keyboardMapping(), pristineMapping);
    }

    // The hot key's modifiers are still down when typing starts: they are let go first.
    void releasesHeldModifiers()
    {
        QVERIFY(terminal.activate());
        QVERIFY(xdotool({QStringLiteral("keydown"), QStringLiteral("alt+super")}));
        QVERIFY(keyboard.keysHeld());
        const QByteArray before = terminal.received();
        const QString text = QStringLiteral("shot5: /tmp/x y/截图.png ");
        const auto result = keyboard.type(text);
        QVERIFY2(result.ok, qPrintable(result.message));
        const QByteArray expected = before + text.toUtf8();
        QCOMPARE(terminal.waitFor(expected.size()), expected);
        QVERIFY(!keyboard.keysHeld());
    }

    void refusesControlCharacters()
    {
        QVERIFY(terminal.activate());
        const QByteArray before = terminal.received();
        const auto result = keyboard.type(QStringLiteral("ls\nrm -rf x"));
        QVERIFY(!result.ok);
        QVERIFY(!result.message.isEmpty());
        QTest::qWait(100);
        QCOMPARE(terminal.received(), before);
    }

    // Ctrl+Shift+V reaches a terminal; a raw terminal without a paste binding sees it as Ctrl+V (0x16).
    void sendsThePasteKey()
    {
        QVERIFY(terminal.activate());
        const QByteArray before = terminal.received();
        QVERIFY(keyboard.sendPasteKey().ok);
        QCOMPARE(terminal.waitFor(before.size() + 1), before + QByteArray("\x16"));
    }

    void typesIntoAQtLineEdit()
    {
        QLineEdit edit;
        edit.setWindowTitle(QStringLiteral("tarnel-keyboard-lineedit"));
        edit.show();
        QVERIFY(QTest::qWaitForWindowExposed(&edit));
        edit.activateWindow();
        QTRY_VERIFY(edit.hasFocus());
        const QString text = QStringLiteral("shot9: /home/a b/$x;中文截图 ");
        // Typed from another thread so this one keeps handling the events as they come in.
        Keyboard::Result result;
        std::atomic_bool done = false;
        std::thread typing([&] {
            result = keyboard.type(text);
            done = true;
        });
        QTRY_VERIFY(done.load());
        typing.join();
        QVERIFY(result.ok);
        QTRY_COMPARE(edit.text(), text);
    }

private:
    X11Keyboard keyboard;
    QByteArray pristineMapping;
    TestXterm terminal{QStringLiteral("tarnel-keyboard-test")};
};

QTEST_MAIN(X11KeyboardTest)
#include "X11KeyboardTest.moc"
