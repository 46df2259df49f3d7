#include "capture/ClipboardWatcher.h"
#include "support/FakeClipboard.h"

#include <QtTest>

using namespace std::chrono_literals;

namespace {
struct Captured {
    QImage image;
    QString source;
};

QImage sample(QColor colour)
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

constexpr auto poll = 20ms;

// A watcher over a fake clipboard, watching, with every capture collected.
struct Rig {
    explicit Rig(std::chrono::milliseconds quiet = 0ms, bool announced = false)
        : watcher(announcing(clipboard, announced), {poll, quiet})
    {
        watcher.onCapture = [this](const ClipboardImage& image, const QString& source) {
            captured.push_back({image.decode().value(), source});
        };
        watcher.start();
    }
    static FakeClipboard& announcing(FakeClipboard& clipboard, bool on)
    {
        clipboard.announces = on;
        return clipboard;
    }
    FakeClipboard clipboard;
    ClipboardWatcher watcher;
    QList<Captured> captured;
};

// The same cases over a clipboard that is polled and over one that announces every change (X11).
void bothClipboards()
{
    QTest::addColumn<bool>("announced");
    QTest::newRow("polled") << false;
    QTest::newRow("announced") << true;
}

// Long enough for a few polls of the shortened interval.
void waitPastPoll() { QTest::qWait(int(poll.count()) * 4); }
} // namespace

class ClipboardWatcherTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void takesAnImageOnceAtTheNotice_data() { bothClipboards(); }
    void takesAnImageOnceAtTheNotice()
    {
        QFETCH(bool, announced);
        Rig rig(0ms, announced);
        rig.clipboard.copyImage(sample(Qt::red));
        // Handled in the notice's own turn, before any event loop runs.
        QCOMPARE(rig.captured.size(), 1);
        QCOMPARE(rig.captured[0].source, QStringLiteral("剪贴板"));
        QCOMPARE(rig.captured[0].image, sample(Qt::red));
        // The poll afterwards sees no new change.
        waitPastPoll();
        QCOMPARE(rig.captured.size(), 1);
        QCOMPARE(rig.clipboard.imageReads(), 1);
    }

    void pollCatchesAChangeWithoutNotice()
    {
        Rig rig;
        rig.clipboard.copyImage(sample(Qt::green), FakeClipboard::Notice::Withhold);
        QCOMPARE(rig.captured.size(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(rig.captured.size(), 1, 2000);
        waitPastPoll();
        QCOMPARE(rig.captured.size(), 1);
    }

    // Over X11 nothing polls at rest: only the notices (and one look as watching starts) are taken.
    void announcedClipboardIsNotPolled()
    {
        Rig rig(0ms, true);
        waitPastPoll();
        rig.clipboard.copyImage(sample(Qt::green), FakeClipboard::Notice::Withhold);
        waitPastPoll();
        QCOMPARE(rig.captured.size(), 0);
        rig.clipboard.copyImage(sample(Qt::blue));
        QCOMPARE(rig.captured.size(), 1);
        QCOMPARE(rig.captured[0].image, sample(Qt::blue));
    }

    void gateClosedTakesNothingUntilReopened_data() { bothClipboards(); }
    void gateClosedTakesNothingUntilReopened()
    {
        QFETCH(bool, announced);
        Rig rig(0ms, announced);
        rig.watcher.stop();
        rig.clipboard.copyImage(sample(Qt::red));
        waitPastPoll();
        QCOMPARE(rig.captured.size(), 0);
        QCOMPARE(rig.clipboard.imageReads(), 0);

        // Reopened: what was copied meanwhile counts as seen; only a copy made after it is taken.
        rig.watcher.start();
        waitPastPoll();
        QCOMPARE(rig.captured.size(), 0);
        rig.clipboard.copyImage(sample(Qt::blue));
        QTRY_COMPARE_WITH_TIMEOUT(rig.captured.size(), 1, 2000);
        QCOMPARE(rig.captured[0].image, sample(Qt::blue));
    }

    void ignoresTextAndOwnWrites()
    {
        Rig rig;
        rig.clipboard.copyText(QStringLiteral("hello"));
        rig.clipboard.writeText(QStringLiteral("shot1: /tmp/a.png"));
        waitPastPoll();
        QCOMPARE(rig.captured.size(), 0);
        QCOMPARE(rig.clipboard.text(), QStringLiteral("shot1: /tmp/a.png"));
        // After our own write the next copy of another program counts again.
        rig.clipboard.copyImage(sample(Qt::red));
        QCOMPARE(rig.captured.size(), 1);
    }

    void pausedChangesAreDroppedNotDeferred()
    {
        Rig rig;
        rig.watcher.setPaused(true);
        rig.clipboard.copyImage(sample(Qt::red));
        rig.clipboard.copyImage(sample(Qt::blue), FakeClipboard::Notice::Withhold);
        waitPastPoll();
        QCOMPARE(rig.captured.size(), 0);

        // Resuming does not bring back what was copied while paused.
        rig.watcher.setPaused(false);
        waitPastPoll();
        QCOMPARE(rig.captured.size(), 0);
        rig.clipboard.copyImage(sample(Qt::green));
        QCOMPARE(rig.captured.size(), 1);
    }

    void suppressionWindow_data() { bothClipboards(); }
    void suppressionWindow()
    {
        QFETCH(bool, announced);
        Rig rig(0ms, announced);
        rig.watcher.suppress(0.3);
        rig.clipboard.copyImage(sample(Qt::red));
        QCOMPARE(rig.captured.size(), 0);
        // A shorter suppression does not cut the running one short.
        rig.watcher.suppress(0.01);
        QTest::qWait(50);
        rig.clipboard.copyImage(sample(Qt::red));
        QCOMPARE(rig.captured.size(), 0);

        QTest::qWait(300);
        rig.clipboard.copyImage(sample(Qt::blue));
        QCOMPARE(rig.captured.size(), 1);
        QCOMPARE(rig.captured[0].image, sample(Qt::blue));

        rig.watcher.suppress(0);
        rig.watcher.suppress(-5);
        rig.clipboard.copyImage(sample(Qt::red));
        QCOMPARE(rig.captured.size(), 2);
    }

    void quietAfterCreation_data() { bothClipboards(); }
    void quietAfterCreation()
    {
        QFETCH(bool, announced);
        Rig rig(300ms, announced);
        rig.clipboard.copyImage(sample(Qt::red));
        QTRY_VERIFY(!rig.watcher.startingUp());
        waitPastPoll();
        // The early change stays dropped, also for the poll.
        QCOMPARE(rig.captured.size(), 0);
        rig.clipboard.copyImage(sample(Qt::blue));
        QCOMPARE(rig.captured.size(), 1);
    }

    void worksWithoutAReceiver()
    {
        FakeClipboard clipboard;
        ClipboardWatcher watcher(clipboard, {poll, 0ms});
        watcher.start();
        clipboard.copyImage(sample(Qt::red));
        QCOMPARE(clipboard.imageReads(), 1);
    }
};

QTEST_GUILESS_MAIN(ClipboardWatcherTest)
#include "ClipboardWatcherTest.moc"
