// Prints what the panel costs with many shots, on a real X server: opening it on the shots page (500 shots
// of two days, or as many as the first argument says) against opening it with none, the GUI-thread time of
// a republication (one new shot, one upload mark) shown and hidden, and whether any other card was built
// again, and the memory of the thumbnail cache while scrolling through every card, 20 of the shots being
// 400 x 50000 pixels. A second argument "every" records each shot as uploaded to all three servers.
#include "capture/ShotStore.h"
#include "support/FakeClock.h"
#include "support/PanelRig.h"
#include "ui/kit/KeyedCardGrid.h"
#include "ui/panel/PanelView.h"
#include "ui/panel/ShotCard.h"
#include "ui/panel/ShotsPage.h"
#include "ui/panel/ThumbnailCache.h"
#include "ui/panel/ThumbnailView.h"
#include "ui/shell/PanelController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {
const QDateTime noon(QDate(2025, 3, 14), QTime(12, 0));

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

// Milliseconds from show() until the first card (or the empty page) is painted.
class FirstPaint : public QObject {
public:
    QElapsedTimer clock;
    double at = -1;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (at < 0 && event->type() == QEvent::Paint &&
            (qobject_cast<ShotCard*>(watched) || watched->objectName() == QLatin1String("emptyState")))
            at = clock.nsecsElapsed() / 1e6;
        return false;
    }
};

double openOnce(AppState& app)
{
    PanelController panel(app);
    FirstPaint probe;
    qApp->installEventFilter(&probe);
    probe.clock.start();
    panel.show(std::nullopt, PanelTab::shots);
    while (probe.at < 0 && probe.clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    qApp->removeEventFilter(&probe);
    return probe.at;
}

QList<double> opens(AppState& app, int runs)
{
    QList<double> times;
    for (int i = 0; i < runs; ++i)
        times << openOnce(app);
    return times;
}

void fill(PanelRig& rig, int count, int tall, bool everyServer)
{
    rig.reusePictures = true;
    QList<QUuid> ids{rig.addServer(QStringLiteral("devbox")).id};
    ids << rig.addServer(QStringLiteral("gpu")).id;
    ids << rig.addServer(QStringLiteral("nas"), false).id;
    if (!everyServer)
        ids.resize(1);
    for (int i = 0; i < count; ++i) {
        const QDateTime when = noon.addDays(i < count / 2 ? -1 : 0).addSecs(-3600 * 3 + i * 20);
        const bool isTall = i % (count / tall) == 0 && tall > 0;
        Shot& shot = rig.addShot(when, isTall ? QSize(400, 50000) : QSize(1280, 720));
        for (const QUuid& id : ids)
            shot.uploads.insert(id.toString(QUuid::WithoutBraces).toUpper(),
                                everyServer ? Upload{Upload::State::done, QStringLiteral("/home/me/tarnel/shots/") + shot.name, {}, when}
                                            : Upload{Upload::State::done, {}, {}, {}});
    }
}

qint64 statusKb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
    return -1;
}
} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        std::fprintf(stderr, "needs an X server (bench/panel/run.sh starts one)\n");
        return 1;
    }
    const int count = argc > 1 ? std::max(40, QString::fromLocal8Bit(argv[1]).toInt()) : 500;
    TempDataDir data;
    FakeClock clock(noon);
    constexpr int runs = 15;

    // Reference: the same panel with no shot at all.
    double emptyOpen = 0;
    {
        PanelRig rig(data);
        rig.signIn();
        AppState& app = rig.build();
        openOnce(app); // warms fonts and styles for both
        emptyOpen = median(opens(app, runs));
    }

    PanelRig rig(data);
    rig.signIn();
    fill(rig, count, 20, argc > 2 && QByteArray(argv[2]) == "every");
    AppState& app = rig.build();
    QElapsedTimer built;
    built.start();
    PanelController panel(app);
    const double construct = built.nsecsElapsed() / 1e6;
    const QList<double> openMany = opens(app, runs);
    std::printf("open, first screen painted (median of %d): %d shots %.1f ms, none %.1f ms (ratio %.2f); "
                "building the hidden panel with %d shots %.1f ms\n",
                runs, count, median(openMany), emptyOpen, median(openMany) / std::max(0.01, emptyOpen), count,
                construct);

    // With the panel closed: the GUI time of an upload mark, the event loop's turn after it included.
    QList<double> hiddenMark;
    for (int i = 0; i < 20; ++i) {
        const Shot& last = app.shots().shots()[app.shots().shots().size() - 1 - i];
        QElapsedTimer t;
        t.start();
        app.shots().setUpload(last.name, app.registry().servers().at(1).id,
                              Upload{i % 2 ? Upload::State::failed : Upload::State::done, {}, {}, noon});
        QCoreApplication::processEvents();
        hiddenMark << t.nsecsElapsed() / 1e6;
    }
    std::printf("panel closed, upload mark with the event loop's turn (median / max of 20): %.2f / %.2f ms\n",
                median(hiddenMark), *std::max_element(hiddenMark.begin(), hiddenMark.end()));

    panel.show(std::nullopt, PanelTab::shots);
    if (!QTest::qWaitForWindowExposed(panel.window())) {
        std::fprintf(stderr, "the panel never came on screen\n");
        return 1;
    }
    PanelView* view = panel.view();
    view->flush();
    ShotsPage* page = view->shotsPage();
    QList<double> newShot, newMark, markCall;
    int rebuilt = 0;
    Settings roomy = app.settings(); // a big pile of today's shots is past the daily limit
    roomy.dailyLimit = 1 << 30;
    for (int i = 0; i < 20; ++i) {
        QHash<QString, ShotCard*> before;
        for (const QString& key : page->grid()->builtKeys())
            before.insert(key, page->card(key));
        const auto result = app.shots().handle(PanelRig::picture(QSize(640 + i, 360), 1000 + i), roomy, true,
                                               noon.addSecs(10 * (i + 1)));
        if (result.outcome != ShotStore::Outcome::stored) {
            std::fprintf(stderr, "the new shot was not stored: %s\n", qPrintable(result.logText));
            return 1;
        }
        QElapsedTimer t;
        t.start();
        view->flush();
        newShot << t.nsecsElapsed() / 1e6;
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            if (page->card(it.key()) && page->card(it.key()) != it.value())
                ++rebuilt;
        t.restart();
        app.shots().setUpload(result.shotName, app.registry().servers().first().id,
                              Upload{Upload::State::done, {}, {}, noon});
        markCall << t.nsecsElapsed() / 1e6;
        t.restart();
        view->flush();
        newMark << t.nsecsElapsed() / 1e6;
    }
    std::printf("republication, GUI time of the refresh (median / max of 20): new shot %.2f / %.2f ms, "
                "upload mark %.2f / %.2f ms (the mark itself %.2f / %.2f ms); cards built again: %d\n",
                median(newShot), *std::max_element(newShot.begin(), newShot.end()), median(newMark),
                *std::max_element(newMark.begin(), newMark.end()), median(markCall),
                *std::max_element(markCall.begin(), markCall.end()), rebuilt);

    if (count > 2000)
        return 0; // scrolling through a big pile takes minutes and shows what 500 shots show

    // Scroll through every card, waiting for the pictures in view.
    auto* scroll = view->findChild<QScrollArea*>(QStringLiteral("shotsScroll"));
    QScrollBar* bar = scroll->verticalScrollBar();
    ThumbnailCache& cache = view->thumbnails();
    qint64 maxBytes = 0;
    int maxEntries = 0, maxCards = 0;
    QElapsedTimer through;
    through.start();
    for (int y = 0; y <= bar->maximum(); y += scroll->viewport()->height()) {
        bar->setValue(y);
        const bool painted = QTest::qWaitFor([&] {
            for (const QString& key : page->grid()->builtKeys()) {
                ShotCard* card = page->card(key);
                if (card && card->visibleRegion().isEmpty() == false && card->thumbnail()->picture().isNull())
                    return false;
            }
            return true;
        }, 3000);
        if (!painted)
            std::fprintf(stderr, "thumbnails still missing 3 s after scrolling to %d\n", y);
        maxBytes = std::max(maxBytes, cache.bytes());
        maxEntries = std::max(maxEntries, cache.size());
        maxCards = std::max(maxCards, page->grid()->builtCount());
    }
    std::printf("scrolled through %d shots in %.1f s: thumbnail cache at most %.1f MB in %d entries (bound %lld MB, "
                "%d entries), at most %d cards built; resident memory now %lld MB, peak %lld MB\n",
                int(app.shots().shots().size()), through.elapsed() / 1000.0, maxBytes / 1048576.0, maxEntries,
                ThumbnailCache::maxBytes >> 20, ThumbnailCache::maxEntries, maxCards, statusKb("VmRSS:") / 1024,
                statusKb("VmHWM:") / 1024);
    return 0;
}
