#include "platform/x11/X11ActiveWindow.h"
#include "support/TestXterm.h"
#include "support/WaitUntil.h"

#include <QtTest>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

// A window of our own with exactly the title properties a test chooses.
class TitledWindow {
public:
    enum class Encoding { Utf8Only, CompoundTextOnly, Latin1Only };

    TitledWindow(const QString& title, Encoding encoding) : display(XOpenDisplay(nullptr))
    {
        window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 200, 100, 0, 0, 0);
        XClassHint hint{const_cast<char*>("probe"), const_cast<char*>("TarnelProbe")};
        XSetClassHint(display, window, &hint);
        const QByteArray utf8 = title.toUtf8();
        if (encoding == Encoding::Utf8Only) {
            XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
                            XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(utf8.constData()), int(utf8.size()));
        } else if (encoding == Encoding::CompoundTextOnly) {
            char* list[] = {const_cast<char*>(utf8.constData())};
            XTextProperty text{};
            Xutf8TextListToTextProperty(display, list, 1, XCompoundTextStyle, &text);
            XSetWMName(display, window, &text);
            XFree(text.value);
        } else {
            const QByteArray latin1 = title.toLatin1();
            XChangeProperty(display, window, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(latin1.constData()), int(latin1.size()));
        }
        XMapWindow(display, window);
        XSync(display, False);
    }

    ~TitledWindow()
    {
        XDestroyWindow(display, window);
        XCloseDisplay(display);
    }

    quint64 id() const { return window; }

private:
    Display* display;
    Window window;
};

class X11ActiveWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!haveX11Tools({QStringLiteral("xterm"), QStringLiteral("xdotool")}))
            QSKIP("needs an X server (DISPLAY) with a window manager, xterm and xdotool");
    }

    void readsTitlesInEveryEncoding_data()
    {
        QTest::addColumn<TitledWindow::Encoding>("encoding");
        QTest::addColumn<QString>("title");
        QTest::newRow("UTF-8") << TitledWindow::Encoding::Utf8Only << QStringLiteral("部署 db-2 — vim 📋");
        QTest::newRow("compound text") << TitledWindow::Encoding::CompoundTextOnly << QStringLiteral("服务器 db-2: ~");
        QTest::newRow("Latin-1") << TitledWindow::Encoding::Latin1Only << QStringLiteral("café@host: ~");
    }

    void readsTitlesInEveryEncoding()
    {
        QFETCH(TitledWindow::Encoding, encoding);
        QFETCH(QString, title);
        TitledWindow window(title, encoding);
        const auto info = frontmostOnceActive(window.id());
        QVERIFY(info);
        QCOMPARE(info->id, window.id());
        QCOMPARE(info->instanceName, QStringLiteral("probe"));
        QCOMPARE(info->className, QStringLiteral("TarnelProbe"));
        QCOMPARE(info->title, title);
    }
    // A real xterm in front, and a switch to another one, are PasteFlowX11Test's.

private:
    // Brings the window to the front and waits until the reading names it: on a busy machine the window
    // manager may still be dealing with the previous case's window (gone by now) when xdotool returns.
    std::optional<WindowInfo> frontmostOnceActive(quint64 id)
    {
        std::optional<WindowInfo> info;
        for (int attempt = 0; attempt < 3 && !(info && info->id == id); ++attempt) {
            xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(id)});
            waitUntil([&] {
                info = active.frontmost();
                return info && info->id == id;
            });
        }
        return info;
    }

    X11ActiveWindow active;
};

QTEST_GUILESS_MAIN(X11ActiveWindowTest)
#include "X11ActiveWindowTest.moc"
