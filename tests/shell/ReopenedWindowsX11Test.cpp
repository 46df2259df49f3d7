// The onboarding and settings windows under a real window manager: moved, hidden and opened again, they
// come back centred on the screen with the size they had, in this run and in the next.
#include "support/PanelRig.h"
#include "support/WaitUntil.h"
#include "ui/onboarding/OnboardingWindowController.h"
#include "ui/settings/SettingsWindowController.h"

#include <QScreen>
#include <QtTest>
#include <memory>

namespace {
// Either window's controller, made afresh as at the next start.
struct Window {
    std::function<std::unique_ptr<QObject>(AppState&)> make;
    std::function<void(QObject&)> show;
    std::function<QWidget*(QObject&)> widget;
};

template <typename Controller>
Window windowOf()
{
    return {[](AppState& app) { return std::make_unique<Controller>(app); },
            [](QObject& c) { static_cast<Controller&>(c).show(); },
            [](QObject& c) { return static_cast<Controller&>(c).window(); }};
}

// The frame's middle on the middle of the screen's free area, give or take the rounding of odd sizes.
bool centred(const QWidget& w)
{
    const QPoint off = w.frameGeometry().center() - w.screen()->availableGeometry().center();
    return off.manhattanLength() <= 2;
}
} // namespace

Q_DECLARE_METATYPE(Window)

class ReopenedWindowsX11Test : public QObject {
    Q_OBJECT
    TempDataDir data;

private Q_SLOTS:
    void shownAgainCentredWithItsSize_data()
    {
        QTest::addColumn<Window>("window");
        QTest::newRow("onboarding") << windowOf<OnboardingWindowController>();
        QTest::newRow("settings") << windowOf<SettingsWindowController>();
    }

    void shownAgainCentredWithItsSize()
    {
        QFETCH(Window, window);
        PanelRig rig(data);
        rig.build();
        std::unique_ptr<QObject> controller = window.make(rig.app());
        QWidget* w = window.widget(*controller);
        window.show(*controller);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        // Before its first showing the frame's edges are unknown: it is centred as well as that allows.
        const QRect first = w->geometry();

        const QPoint left(40, 30);
        w->move(left);
        QVERIFY(waitUntil([&] { return w->pos() == left; }));
        w->close(); // as the title bar's close button: only hidden
        QVERIFY(waitUntil([&] { return !w->isVisible(); }));
        window.show(*controller);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QVERIFY2(waitUntil([&] { return centred(*w); }), qPrintable(QStringLiteral("at %1,%2").arg(w->x()).arg(w->y())));
        QCOMPARE(w->size(), first.size());

        w->hide();
        controller = window.make(rig.app());
        w = window.widget(*controller);
        window.show(*controller);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QVERIFY(waitUntil([&] { return w->geometry() == first; }));
    }
};

QTEST_MAIN(ReopenedWindowsX11Test)
#include "ReopenedWindowsX11Test.moc"
