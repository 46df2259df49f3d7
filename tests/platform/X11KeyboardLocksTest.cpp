// Typing with lock and latched modifiers on, and on a layout where characters need Shift or AltGr, into a
// real xterm. Locks and layouts are the whole X server's: the test has an X server of its own.
#include "platform/x11/X11Display.h"
#include "platform/x11/X11Keyboard.h"
#include "support/PrivateDisplay.h"
#include "support/TestXterm.h"
#include "support/WaitUntil.h"

#include <QStandardPaths>
#include <QtTest>

#include <X11/XKBlib.h>
#include <X11/keysym.h>

namespace {
XkbStateRec keyboardState()
{
    XkbStateRec state{};
    XkbGetState(X11Display::get(), XkbUseCoreKbd, &state);
    return state;
}

bool setLayout(const QString& layout, const QString& display)
{
    QProcess setter;
    setter.start(QStringLiteral("setxkbmap"), {QStringLiteral("-display"), display, layout});
    return setter.waitForFinished(10000) && setter.exitCode() == 0;
}
} // namespace

class X11KeyboardLocksTest : public QObject {
    Q_OBJECT

    PrivateDisplay display;
    std::optional<X11Keyboard> keyboard;
    std::optional<TestXterm> terminal;

private Q_SLOTS:
    void initTestCase()
    {
        for (const char* program : {"Xvfb", "jwm", "xterm", "xdotool", "xprop", "setxkbmap"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("needs %1").arg(QString::fromLatin1(program))));
        QVERIFY(display.start());
        QVERIFY(display.startWindowManager());
        // Before the first connection: every X client of this process and its children uses this server.
        qputenv("DISPLAY", display.name().toLocal8Bit());
        QVERIFY(X11Display::get());
        keyboard.emplace(150, 400);
        terminal.emplace(QStringLiteral("tarnel-locks-test"));
        QVERIFY(terminal->start());
    }

    void cleanup()
    {
        Display* x = X11Display::get();
        XkbLockModifiers(x, XkbUseCoreKbd, 0xff, 0);
        XkbLatchModifiers(x, XkbUseCoreKbd, 0xff, 0);
        XSync(x, False);
        QVERIFY(setLayout(QStringLiteral("us"), display.name()));
    }

    void typesExactlyWhateverIsLocked_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("locked"); // modifier masks
        QTest::addColumn<int>("latched");
        const int numLock = int(XkbKeysymToModifiers(X11Display::get(), XK_Num_Lock));
        QVERIFY(numLock);
        QTest::newRow("caps lock") << "us" << int(LockMask) << 0;
        QTest::newRow("num lock") << "us" << numLock << 0;
        QTest::newRow("shift lock") << "us" << int(ShiftMask) << 0;
        QTest::newRow("latched shift") << "us" << 0 << int(ShiftMask);
        QTest::newRow("AltGr layout") << "de" << 0 << 0;
        QTest::newRow("AltGr layout, caps and num lock") << "de" << int(LockMask) + numLock << 0;
    }

    // The bytes the shell gets are the text, and the locks are as they were afterwards.
    void typesExactlyWhateverIsLocked()
    {
        QFETCH(QString, layout);
        QFETCH(int, locked);
        QFETCH(int, latched);
        QVERIFY(setLayout(layout, display.name()));
        Display* x = X11Display::get();
        XkbLockModifiers(x, XkbUseCoreKbd, unsigned(locked), unsigned(locked));
        XkbLatchModifiers(x, XkbUseCoreKbd, unsigned(latched), unsigned(latched));
        XSync(x, False);
        QCOMPARE(int(keyboardState().locked_mods), locked);

        QVERIFY(terminal->activate());
        const QByteArray before = terminal->received();
        const QString text = QStringLiteral("shot56: /Home/ab Cd/SHOTS/x-56.png @{[|]}\\~ zZyY äÖß 1!2\"3#7/8( 截图 ");
        Caught<Keyboard::Result> typed;
        keyboard->type(text, typed.callback());
        const auto result = typed.wait(Limit::network);
        QVERIFY(result && result->ok);
        const QByteArray expected = before + text.toUtf8();
        QCOMPARE(terminal->waitFor(expected.size()), expected);
        QCOMPARE(int(keyboardState().locked_mods), locked);
        QCOMPARE(int(keyboardState().latched_mods), latched);
    }
};

QTEST_GUILESS_MAIN(X11KeyboardLocksTest)
#include "X11KeyboardLocksTest.moc"
