#include "delivery/HotkeySpec.h"

#include <QtTest>

#include <X11/keysym.h>

class HotkeySpecTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<quint32>("modifiers");
        QTest::addColumn<quint32>("keyCode");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("desktop");
        QTest::newRow("default paste") << QStringLiteral("⌥⌘3") << 2048u + 256u << quint32(XK_3) << QStringLiteral("⌥⌘3")
                                       << QStringLiteral("Alt+Super+3");
        QTest::newRow("order as typed") << QStringLiteral("⌘⇧⌃k") << 256u + 512u + 4096u << quint32(XK_k)
                                        << QStringLiteral("⌘⇧⌃K") << QStringLiteral("Super+Shift+Ctrl+K");
        QTest::newRow("blanks around") << QStringLiteral("  \t⌃0 \n") << 4096u << quint32(XK_0) << QStringLiteral("⌃0")
                                       << QStringLiteral("Ctrl+0");
        QTest::newRow("function key lower case") << QStringLiteral("⌥f12") << 2048u << quint32(XK_F12)
                                                 << QStringLiteral("⌥F12") << QStringLiteral("Alt+F12");
        QTest::newRow("F1") << QStringLiteral("⌘F1") << 256u << quint32(XK_F1) << QStringLiteral("⌘F1")
                            << QStringLiteral("Super+F1");
    }

    void parses()
    {
        QFETCH(QString, text);
        const auto spec = HotkeySpec::parse(text);
        QVERIFY(spec);
        QTEST(spec->modifiers, "modifiers");
        QTEST(spec->keyCode, "keyCode");
        QTEST(spec->display, "display");
        QTEST(spec->desktopText(), "desktop");
    }

    // Stored combinations in the desktop's notation; a stored text that does not parse (Shift alone is not
    // enough) shows as its fallback.
    void showsTheDesktopNotation_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("⇧") << QStringLiteral("⇧3") << QStringLiteral("Alt+Super+3");
        QTest::newRow("⌃⌥⇧⌘") << QStringLiteral("⌃⌥⇧⌘3") << QStringLiteral("Ctrl+Alt+Shift+Super+3");
        QTest::newRow("repeated symbol") << QStringLiteral("⌘⌥⌘f12") << QStringLiteral("Super+Alt+F12");
    }

    void showsTheDesktopNotation()
    {
        QFETCH(QString, stored);
        QTEST(HotkeySpec::parseOr(stored, QStringLiteral("⌥⌘3")).desktopText(), "shown");
    }

    void refuses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString();
        QTest::newRow("shift alone") << QStringLiteral("⇧3");
        QTest::newRow("no modifier") << QStringLiteral("K");
        QTest::newRow("unknown key") << QStringLiteral("⌘Space");
        QTest::newRow("F13") << QStringLiteral("⌘F13");
        QTest::newRow("F0") << QStringLiteral("⌘F0");
        QTest::newRow("two keys") << QStringLiteral("⌘12");
        QTest::newRow("blank between") << QStringLiteral("⌥⌘ 3");
        QTest::newRow("modifier after key") << QStringLiteral("3⌘");
        QTest::newRow("only modifiers") << QStringLiteral("⌃⌥⌘");
        QTest::newRow("full-width digit") << QStringLiteral("⌘３");
    }

    void refuses()
    {
        QFETCH(QString, text);
        QVERIFY(!HotkeySpec::parse(text));
    }

    void mapsKeyPresses_data()
    {
        QTest::addColumn<int>("held");
        QTest::addColumn<quint32>("keysym");
        QTest::addColumn<QString>("text"); // empty: none
        const int all = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier;
        QTest::newRow("fixed order") << all << quint32(XK_3) << QStringLiteral("⌃⌥⇧⌘3");
        QTest::newRow("alt shift super") << int(Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier)
                                         << quint32(XK_K) << QStringLiteral("⌥⇧⌘K");
        QTest::newRow("F5") << int(Qt::ControlModifier) << quint32(XK_F5) << QStringLiteral("⌃F5");
        QTest::newRow("shift letter") << int(Qt::ShiftModifier) << quint32(XK_A) << QString();
        QTest::newRow("keypad digit") << int(Qt::MetaModifier) << quint32(XK_KP_1) << QString();
        QTest::newRow("shifted digit symbol") << int(Qt::MetaModifier | Qt::ShiftModifier) << quint32(XK_numbersign)
                                              << QString();
    }

    void mapsKeyPresses()
    {
        QFETCH(int, held);
        QFETCH(quint32, keysym);
        QFETCH(QString, text);
        const auto result = HotkeySpec::from(Qt::KeyboardModifiers(held), keysym);
        QCOMPARE(result.value_or(QString()), text);
        if (result)
            QCOMPARE(HotkeySpec::parse(*result)->display, text);
    }
};

QTEST_GUILESS_MAIN(HotkeySpecTest)
#include "HotkeySpecTest.moc"
