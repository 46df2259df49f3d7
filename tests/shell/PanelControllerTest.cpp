// The panel under a window manager with a taskbar: however it is opened, and however wide its content
// makes it, its whole frame (title bar and borders too) stays in the screen's free area.
#include "support/PanelRig.h"
#include "support/WaitUntil.h"
#include "ui/panel/PanelView.h"
#include "ui/shell/PanelController.h"

#include <QScreen>
#include <QtTest>

class PanelControllerTest : public QObject {
    Q_OBJECT
    TempDataDir data;

    // Inside once the window manager has framed it; else where it stands.
    static QString outside(const QWidget& w)
    {
        const QRect f = w.frameGeometry(), a = w.screen()->availableGeometry();
        if (f != w.geometry() && a.contains(f))
            return QString();
        return QStringLiteral("frame %1,%2 %3x%4 in %5x%6").arg(f.x()).arg(f.y()).arg(f.width()).arg(f.height()).arg(a.width()).arg(a.height());
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs a real X server with a window manager (DISPLAY)");
    }

    // `tray`: where the icon the hot key stands for sits, as a share of the screen; none: no tray.
    void frameStaysInTheFreeArea_data()
    {
        QTest::addColumn<QPointF>("tray");
        QTest::newRow("tray-in-a-bottom-taskbar") << QPointF(0.99, 0.995);
        QTest::newRow("tray-at-the-top-right") << QPointF(0.99, 0.005);
        QTest::newRow("tray-at-the-bottom-left") << QPointF(0.01, 0.995);
        QTest::newRow("no-tray") << QPointF(-1, -1);
    }
    void frameStaysInTheFreeArea()
    {
        QFETCH(QPointF, tray);
        PanelRig rig(data);
        rig.signIn();
        PanelController panel(rig.build());
        QWidget* w = panel.window();
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        std::optional<QRect> anchor;
        if (tray.x() >= 0)
            anchor = QRect(int(screen.width() * tray.x()) - 12, int(screen.height() * tray.y()) - 12, 24, 24);

        for (int round = 0; round < 2; ++round) { // the first time its frame is not known before it is shown
            panel.show(anchor, PanelTab::shots);
            QVERIFY(QTest::qWaitForWindowExposed(w));
            QVERIFY2(waitUntil([w] { return outside(*w).isEmpty(); }), qPrintable(outside(*w)));
            panel.hide();
            QVERIFY(waitUntil([w] { return !w->isVisible(); }));
        }
        // Content that asks for more room (a longer header) widens the panel on show, still inside.
        panel.show(anchor, PanelTab::shots);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        const int wider = w->width() + 160;
        panel.view()->setLeastSize(QSize(wider, PanelController::minHeight));
        QVERIFY(waitUntil([w, wider] { return w->width() >= wider; }));
        QVERIFY2(waitUntil([w] { return outside(*w).isEmpty(); }), qPrintable(outside(*w)));

        // The whole screen, taskbar included, for a person to look at.
        const QString folder = QStringLiteral(TARNEL_BINARY_DIR "/artifacts/shell");
        QDir().mkpath(folder);
        w->repaint();
        QVERIFY(w->screen()->grabWindow(0).save(folder + QStringLiteral("/panel-%1.png").arg(QLatin1String(QTest::currentDataTag()))));
    }
};

QTEST_MAIN(PanelControllerTest)
#include "PanelControllerTest.moc"
