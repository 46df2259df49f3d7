#include "platform/x11/X11Display.h"
#include "platform/x11/X11Keyboard.h"
#include "support/TestXterm.h"

#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>

#include <X11/Xlib.h>

#include <optional>

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

// Runs the event loop until the keyboard answers.
Keyboard::Result typeAndWait(Keyboard& keyboard, const QString& text)
{
    std::optional<Keyboard::Result> answer;
    keyboard.type(text, [&](const Keyboard::Result& result) { answer = result; });
    if (!QTest::qWaitFor([&] { return answer.has_value(); }, 30000))
        return {false, QStringLiteral("no answer")};
    return *answer;
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
        // Repeated characters and blanks: typesRightAfterAnotherTyping, releasesHeldModifiers.
        QTest::newRow("beyond latin-1 and emoji") << QStringLiteral("é ß Ж € 📋 ✅ end");
        // More distinct characters than the keyboard has spare keys: typed batch after batch, the event
        // loop running on while a batch waits for its keys.
        QTest::newRow("more than the spare keys") << distinctChinese(80, 0x6000);
    }

    void typesByteExact()
    {
        QFETCH(QString, text);
        QVERIFY(terminal.activate());
        const QByteArray before = terminal.received();
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(10);
        const auto result = typeAndWait(keyboard, text);
        QVERIFY2(result.ok, qPrintable(result.message));
        if (QTest::currentDataTag() == QLatin1String("more than the spare keys"))
            QVERIFY2(ticks > 3, qPrintable(QString::number(ticks)));
        const QByteArray expected = before + text.toUtf8();
        QCOMPARE(terminal.waitFor(expected.size(), 15000), expected);
    }

    // Pressed again before the borrowed keys went back: they are borrowed anew, never read as the old symbols.
    void typesRightAfterAnotherTyping()
    {
        QVERIFY(terminal.activate());
        const QByteArray before = terminal.received();
        const QStringList texts{QStringLiteral("中文中文"), QStringLiteral("中文截图"), QStringLiteral("图截文中 ok")};
        int answers = 0;
        for (const QString& text : texts)
            keyboard.type(text, [&](const Keyboard::Result& result) { answers += result.ok ? 1 : 100; });
        QTRY_COMPARE(answers, 3);
        const QByteArray expected = texts.join(QString()).toUtf8();
        QCOMPARE(terminal.waitFor(before.size() + expected.size()).mid(before.size()), expected);
        QTRY_COMPARE(keyboardMapping(), pristineMapping); // borrowed keys given back
    }

    // The hot key's modifiers are still down when typing starts: they are let go first.
    void releasesHeldModifiers()
    {
        QVERIFY(terminal.activate());
        QVERIFY(xdotool({QStringLiteral("keydown"), QStringLiteral("alt+super")}));
        QVERIFY(keyboard.keysHeld());
        const QByteArray before = terminal.received();
        const QString text = QStringLiteral("shot5: /tmp/x y/截图.png ");
        const auto result = typeAndWait(keyboard, text);
        QVERIFY2(result.ok, qPrintable(result.message));
        const QByteArray expected = before + text.toUtf8();
        QCOMPARE(terminal.waitFor(expected.size()), expected);
        QVERIFY(!keyboard.keysHeld());
    }

    void refusesControlCharacters()
    {
        QVERIFY(terminal.activate());
        const QByteArray before = terminal.received();
        const auto result = typeAndWait(keyboard, QStringLiteral("ls\nrm -rf x"));
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
        bool sent = false;
        keyboard.sendPasteKey(Keyboard::PasteKey::controlShiftV, [&](const Keyboard::Result& result) { sent = result.ok; });
        QTRY_VERIFY(sent);
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
        QVERIFY(typeAndWait(keyboard, text).ok);
        QTRY_COMPARE(edit.text(), text);
    }

private:
    // The test runs beside many others: the terminal may be slow to read a changed key mapping.
    X11Keyboard keyboard{400, 1000};
    QByteArray pristineMapping;
    TestXterm terminal{QStringLiteral("tarnel-keyboard-test")};
};

QTEST_MAIN(X11KeyboardTest)
#include "X11KeyboardTest.moc"
