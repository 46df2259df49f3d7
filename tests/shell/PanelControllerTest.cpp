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

    static QString where(const QWidget& w)
    {
        const QRect f = w.frameGeometry(), a = w.screen()->availableGeometry();
        return QStringLiteral("frame %1,%2 %3x%4 in %5,%6 %7x%8")
            .arg(f.x()).arg(f.y()).arg(f.width()).arg(f.height()).arg(a.x()).arg(a.y()).arg(a.width()).arg(a.height());
    }
    static bool inside(const QWidget& w)
    {
        return w.frameGeometry() != w.geometry() && w.screen()->availableGeometry().contains(w.frameGeometry());
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
        QTest::newRow("tray in a bottom taskbar") << QPointF(0.99, 0.995);
        QTest::newRow("tray at the top right") << QPointF(0.99, 0.005);
        QTest::newRow("tray at the bottom left") << QPointF(0.01, 0.995);
        QTest::newRow("no tray") << QPointF(-1, -1);
    }
    void frameStaysInTheFreeArea()
    {
        QFETCH(QPointF, tray);
        PanelRig rig(data);
        rig.signIn();
        rig.addServer(QStringLiteral("devbox"));
        PanelController panel(rig.build());
        QWidget* w = panel.window();
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        std::optional<QRect> anchor;
        if (tray.x() >= 0)
            anchor = QRect(QPoint(int(screen.width() * tray.x()) - 12, int(screen.height() * tray.y()) - 12), QSize(24, 24));

        for (int round = 0; round < 2; ++round) { // the first time its frame is not known before it is shown
            panel.show(anchor, PanelTab::shots);
            QVERIFY(QTest::qWaitForWindowExposed(w));
            QVERIFY2(waitUntil([w] { return inside(*w); }), qPrintable(where(*w)));
            panel.hide();
            QVERIFY(waitUntil([w] { return !w->isVisible(); }));
        }

        // Content that asks for more room widens the panel on show, still inside.
        panel.show(anchor, PanelTab::shots);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        const int wider = w->width() + 160;
        panel.view()->setLeastSize(QSize(wider, PanelController::minHeight));
        QVERIFY(waitUntil([w, wider] { return w->width() >= wider; }));
        QVERIFY2(waitUntil([w] { return inside(*w); }), qPrintable(where(*w)));
        // The whole screen, taskbar included, for a person to look at.
        const QString folder = QStringLiteral(TARNEL_BINARY_DIR "/artifacts/shell");
        QVERIFY(QDir().mkpath(folder));
        panel.view()->flush();
        w->repaint();
        QVERIFY(w->screen()->grabWindow(0).save(folder + QStringLiteral("/panel-%1.png").arg(QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-')))));
    }
};

QTEST_MAIN(PanelControllerTest)
#include "PanelControllerTest.moc"
