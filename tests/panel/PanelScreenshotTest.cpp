#include "capture/ShotStore.h"
#include "support/FakeClock.h"
#include "support/PanelRig.h"
#include "ui/panel/PanelView.h"
#include "ui/shell/PanelController.h"

#include <QDir>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QTest>
#include <memory>

// Renders the panel in its fixture states on a real X server and keeps the pictures in
// <build>/artifacts/panel/ for a person to look at.
class PanelScreenshotTest : public QObject {
    Q_OBJECT

    const QString folder = QStringLiteral(TARNEL_BINARY_DIR "/artifacts/panel");
    const QDateTime noon = QDateTime(QDate(2025, 3, 14), QTime(12, 0));
    TempDataDir data;

    void shoot(PanelController& panel, const QString& name)
    {
        panel.view()->flush();
        // Thumbnails arrive from their worker.
        QTest::qWait(300);
        const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
        QVERIFY(panel.window()->grab().save(path));
        const QImage image(path);
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); y += 3)
            for (int x = 0; x < image.width(); x += 3)
                colours.insert(image.pixel(x, y));
        QVERIFY2(colours.size() > 20, qPrintable(name));
    }

    // Ten shots over two days: uploads done, failed with a reason, waiting and off; one chosen.
    static void tenShots(PanelRig& rig, const QDateTime& noon)
    {
        Server& devbox = rig.addServer(QStringLiteral("devbox"));
        const QUuid devboxId = devbox.id;
        const QUuid gpuId = rig.addServer(QStringLiteral("gpu")).id;
        rig.addServer(QStringLiteral("nas"), false);
        for (int i = 0; i < 10; ++i) {
            const QDateTime when = noon.addDays(i < 4 ? -1 : 0).addSecs(i * 97);
            Shot& shot = rig.addShot(when, i % 3 == 0 ? QSize(1920, 1080) : i % 3 == 1 ? QSize(900, 1400) : QSize(1280, 720));
            shot.uploads.insert(devboxId.toString(QUuid::WithoutBraces).toUpper(),
                                Upload{i == 9 ? Upload::State::pending : Upload::State::done, {}, {}, {}});
            if (i % 4 == 1)
                shot.uploads.insert(gpuId.toString(QUuid::WithoutBraces).toUpper(),
                                    Upload{Upload::State::failed, {}, QStringLiteral("连不上 gpu：超时"), {}});
            else if (i % 4 == 2)
                shot.uploads.insert(gpuId.toString(QUuid::WithoutBraces).toUpper(), Upload{Upload::State::done, {}, {}, {}});
            shot.pasted = i % 5 == 0 ? 2 : 0;
            shot.updated = i == 7 ? 1 : 0;
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs a real X server (DISPLAY)");
        QVERIFY(QDir().mkpath(folder));
    }

    // The narrowest panel goes with the longest header: paused, a shot chosen.
    void fixtureStates_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<bool>("withShots");
        QTest::addColumn<int>("chosen"); // -1: none
        QTest::addColumn<bool>("narrowAndPaused");
        QTest::addColumn<QString>("scrolledName"); // also shot scrolled to the end, when given
        QTest::newRow("1-empty") << true << false << -1 << false << "";
        QTest::newRow("2-ten-shots") << true << true << 6 << false << "3-ten-shots-end";
        QTest::newRow("4-gate-closed") << false << true << -1 << false << "";
        QTest::newRow("5-narrow-paused") << true << true << 3 << true << "";
        QTest::newRow("7-narrow-paused-latest") << true << true << -1 << true << "";
    }

    void fixtureStates()
    {
        QFETCH(bool, signedIn);
        QFETCH(bool, withShots);
        QFETCH(int, chosen);
        QFETCH(bool, narrowAndPaused);
        QFETCH(QString, scrolledName);
        FakeClock clock(noon);
        PanelRig rig(data);
        if (signedIn)
            rig.signIn();
        if (withShots)
            tenShots(rig, noon);
        PanelController panel(rig.build());
        if (chosen >= 0)
            rig.app().shots().setSelected(rig.app().shots().shots().at(chosen).name);
        if (narrowAndPaused)
            rig.app().shots().setPaused(true);
        panel.show(std::nullopt, PanelTab::shots);
        QVERIFY(QTest::qWaitForWindowExposed(panel.window()));
        if (narrowAndPaused)
            panel.window()->resize(PanelController::minWidth, PanelController::minHeight);
        shoot(panel, QString::fromLatin1(QTest::currentDataTag()));
        if (scrolledName.isEmpty())
            return;
        panel.view()->findChild<QScrollArea*>(QStringLiteral("shotsScroll"))->verticalScrollBar()->setValue(100000);
        shoot(panel, scrolledName);
    }

    // Six destinations at the least width: the failed upload and the counts stay, "+N" for the rest.
    void sixDestinations()
    {
        FakeClock clock(noon);
        PanelRig rig(data);
        rig.signIn();
        QList<QUuid> ids;
        for (const char* name : {"devbox", "gpu-west", "gpu-east", "nas", "ci-runner", "staging"})
            ids << rig.addServer(QString::fromLatin1(name)).id;
        Shot& shot = rig.addShot(noon, QSize(1920, 1080));
        for (int i = 0; i < ids.size(); ++i)
            shot.uploads.insert(ids[i].toString(QUuid::WithoutBraces).toUpper(),
                                i == 5 ? Upload{Upload::State::failed, {}, QStringLiteral("连不上 staging：超时"), {}}
                                       : Upload{Upload::State::done, {}, {}, {}});
        shot.pasted = 3;
        shot.updated = 1;
        PanelController panel(rig.build());
        rig.app().shots().setSelected(shot.name);
        panel.show(std::nullopt, PanelTab::shots);
        QVERIFY(QTest::qWaitForWindowExposed(panel.window()));
        panel.window()->resize(PanelController::minWidth, PanelController::minHeight);
        shoot(panel, QStringLiteral("6-six-destinations"));
    }
};

QTEST_MAIN(PanelScreenshotTest)
#include "PanelScreenshotTest.moc"
