// The panel's periodic work under a real window manager: the add box's session scan and the device link's
// fast poll run only while the panel is on screen, not once it is hidden, minimised or unmapped by the
// window manager (whose widgets Qt still counts as visible), and resume when it comes back.
#include "link/LinkManager.h"
#include "support/LinkedPanelRig.h"
#include "support/WaitUntil.h"
#include "ui/panel/AddServerBox.h"
#include "ui/panel/PanelView.h"
#include "ui/panel/ServersPage.h"
#include "ui/shell/PanelController.h"

#include <QProcess>
#include <QSignalSpy>
#include <QWindow>
#include <QtTest>

namespace {
constexpr int scanMs = 20;

// What the window manager does to a window it takes off screen (another desktop) and gives back.
bool windowManager(const char* action, QWidget* window)
{
    return QProcess::execute(QStringLiteral("xdotool"), {QString::fromLatin1(action), QString::number(window->winId())}) == 0;
}
} // namespace

class OffScreenWorkX11Test : public QObject {
    Q_OBJECT
    TempDataDir data;

private Q_SLOTS:
    void scanAndFastPollStopOffScreen()
    {
        LinkedPanelRig rig(data);
        QVERIFY(rig.start());
        PanelController panel(rig.app());
        panel.show(std::nullopt, PanelTab::servers);
        QWidget* window = panel.window();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        AddServerBox* box = panel.view()->serversPage()->addBox();
        box->setScan([] { return QList<SSHSession>(); });
        box->setScanInterval(scanMs);
        QSignalSpy scans(box, &AddServerBox::scanned);
        // Nothing more within ten of its intervals.
        const auto still = [&] {
            const qsizetype before = scans.size();
            return !waitUntil([&] { return scans.size() > before + 1; }, 10 * scanMs);
        };
        const auto scanning = [&] {
            const qsizetype before = scans.size();
            return waitUntil([&] { return scans.size() > before + 1; });
        };
        QVERIFY(scanning());

        QVERIFY(windowManager("windowunmap", window));
        QVERIFY(waitUntil([&] { return !window->windowHandle()->isExposed(); }));
        QVERIFY(still());
        QVERIFY(windowManager("windowmap", window));
        QVERIFY(scanning());

        window->showMinimized();
        QVERIFY(waitUntil([&] { return !window->windowHandle()->isExposed(); }));
        QVERIFY(still());
        window->showNormal();
        QVERIFY(scanning());

        LinkManager& link = rig.app().link();
        rig.app().setPanelTab(PanelTab::devices);
        panel.view()->flush();
        QVERIFY(link.pollsFast());
        QVERIFY(windowManager("windowunmap", window));
        QVERIFY(waitUntil([&] { return !link.pollsFast(); }));
        QVERIFY(windowManager("windowmap", window));
        QVERIFY(waitUntil([&] { return link.pollsFast(); }));
        window->showMinimized();
        QVERIFY(waitUntil([&] { return !link.pollsFast(); }));
        window->showNormal();
        QVERIFY(waitUntil([&] { return link.pollsFast(); }));
    }
};

QTEST_MAIN(OffScreenWorkX11Test)
#include "OffScreenWorkX11Test.moc"
