// Copy -> shot file on disk through the real X clipboard, against `xclip -o > file` (1080p) and
// `xclip -o | convert -resize 2560x2560 png:-` (4K), taking turns in one loop; then the longest stall of the
// GUI thread (a 1 ms timer probe) while a 48-megapixel photo is captured.
//   bench/capture/run.sh [runs]
#include "StallProbe.h"
#include "SyntheticScreenshot.h"
#include "capture/ClipboardWatcher.h"
#include "capture/ShotStore.h"
#include "platform/x11/SystemClipboard.h"
#include "state/Sequencer.h"
#include "state/StateStore.h"
#include "state/Store.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

namespace {
double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double shellMs(const QString& command)
{
    QElapsedTimer timer;
    timer.start();
    QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), command});
    return double(timer.nsecsElapsed()) / 1e6;
}

// Smooth colours with sensor noise, as a camera gives.
QImage photo(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(48);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int n = int(random.bounded(12));
            row[x] = qRgb((x / 40 + n) % 256, std::min(255, y / 30 + n), std::min(255, (x + y) / 70 + n));
        }
    }
    return image;
}

struct Rig {
    QTemporaryDir dir;
    Store store{dir.filePath(QStringLiteral("data"))};
    Sequencer sequencer{store};
    StateStore state{store};
    ShotStore shots{state, sequencer, store.path(QStringLiteral("shots"))};
    SystemClipboard clipboard;
    std::unique_ptr<ClipboardWatcher> watcher; // made after the timing slot, so that slot runs first
    Settings settings;
    QDateTime now = QDateTime::currentDateTime();
    QElapsedTimer sinceChange;
    StallProbe probe; // from the change notice to the shot on disk
    double readMs = 0;
    double shotMs = 0;
    std::atomic<qint64> normaliseNs = 0; // scaling, encoding and fingerprint, on the worker
    double stallMs = 0;
    ShotStore::Outcome outcome = ShotStore::Outcome::refused;
    QEventLoop* waiting = nullptr;

    Rig()
    {
        QObject::connect(&clipboard, &Clipboard::changed, [this] {
            if (sinceChange.isValid())
                return;
            sinceChange.start();
            probe.start();
        });
        sequencer.saveLater = [this](std::function<void()> job) { state.beforeNextWrite(std::move(job)); }; // as the app does
        shots.normalise = [this](const QImage& image, int longSide, qint64 maxBytes, const QByteArray& source) {
            QElapsedTimer timer;
            timer.start();
            auto out = ImageStore::normalise(image, longSide, maxBytes, source);
            normaliseNs = timer.nsecsElapsed();
            return out;
        };
        watcher = std::make_unique<ClipboardWatcher>(clipboard, ClipboardWatcher::Intervals{std::chrono::milliseconds(500), std::chrono::milliseconds(0)});
        watcher->onCapture = [this](const ClipboardImage& image, const QString&) {
            readMs = double(sinceChange.nsecsElapsed()) / 1e6;
            now = now.addSecs(300); // apart enough to be a new shot each time
            shots.take(image, settings, true, now, [this](const ShotStore::Result& r) {
                shotMs = double(sinceChange.nsecsElapsed()) / 1e6;
                stallMs = probe.stop();
                outcome = r.outcome;
                if (waiting)
                    waiting->quit();
            });
        };
        watcher->start();
    }

    // Puts `file` on the clipboard with xclip (which stays as its owner) and waits for the shot.
    bool copy(const QString& file)
    {
        QEventLoop loop;
        waiting = &loop;
        outcome = ShotStore::Outcome::refused;
        sinceChange.invalidate();
        QProcess::startDetached(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                                          QStringLiteral("-t"), QStringLiteral("image/png"),
                                                          QStringLiteral("-i"), file});
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        loop.exec();
        waiting = nullptr;
        return outcome == ShotStore::Outcome::stored;
    }
};

// Each run's picture differs in one pixel, so none is a duplicate of the one before.
QStringList variants(const QImage& image, const QString& dir, const QString& stem, int count)
{
    QStringList files;
    for (int i = 0; i < count; ++i) {
        QImage copy = image;
        copy.setPixel(i, 0, qRgb(i, 255 - i, 7));
        files << QStringLiteral("%1/%2-%3.png").arg(dir, stem).arg(i);
        copy.save(files.last(), "PNG");
    }
    return files;
}
} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 9;
    Rig rig;
    const QString dir = rig.dir.path();
    const QImage screen = syntheticScreenshot();
    const QStringList hd = variants(screen.scaled(1920, 1080, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), dir,
                                    QStringLiteral("hd"), runs);
    const QStringList uhd = variants(screen, dir, QStringLiteral("uhd"), runs);
    const QString xclipOut = QStringLiteral("xclip -selection clipboard -t image/png -o");
    const QString out = dir + QStringLiteral("/out.png");

    std::vector<double> oursHd, xclipHd, oursUhd, convertUhd, stallsHd, readHd, normaliseHd;
    StallProbe probe;
    bool ok = true;
    for (int i = 0; i < runs; ++i) {
        ok &= rig.copy(hd[i]);
        stallsHd.push_back(rig.stallMs);
        readHd.push_back(rig.readMs);
        normaliseHd.push_back(double(rig.normaliseNs) / 1e6);
        oursHd.push_back(rig.shotMs);
        xclipHd.push_back(shellMs(xclipOut + QStringLiteral(" > ") + out));
        ok &= rig.copy(uhd[i]);
        oursUhd.push_back(rig.shotMs);
        convertUhd.push_back(shellMs(xclipOut + QStringLiteral(" | /usr/bin/convert - -resize 2560x2560 png:- > ") + out));
    }
    if (!ok) {
        std::fprintf(stderr, "a copy was not stored\n");
        return 1;
    }
    std::printf("copy -> shot file on disk, median of %d runs\n", runs);
    std::printf("1080p: tarnel %7.1f ms | xclip -o > file %7.1f ms | ratio %.2f (target <= 3)\n", median(oursHd),
                median(xclipHd), median(oursHd) / median(xclipHd));
    std::printf("4K:    tarnel %7.1f ms | xclip -o | convert -resize %7.1f ms | ratio %.2f (target <= 0.3)\n",
                median(oursUhd), median(convertUhd), median(oursUhd) / median(convertUhd));
    std::printf("1080p: of which reading the clipboard %.1f ms (GUI thread), normalising %.1f ms (worker), the rest "
                "decoding and writing\n",
                median(readHd), median(normaliseHd));
    std::printf("1080p: longest GUI-thread stall from the change notice to the shot, median %.1f ms\n",
                median(stallsHd));

    // 48 megapixels: once straight into the shot store (the image work alone), once through the clipboard.
    const QImage big = photo(8000, 6000);
    const QStringList bigFiles = variants(big, dir, QStringLiteral("photo"), 1);
    QEventLoop loop;
    rig.now = rig.now.addSecs(300);
    probe.start();
    QElapsedTimer direct;
    direct.start();
    rig.shots.take(big, rig.settings, true, rig.now, [&](const ShotStore::Result&) { loop.quit(); });
    loop.exec();
    const double directMs = double(direct.nsecsElapsed()) / 1e6;
    const double directStall = probe.stop();
    ok = rig.copy(bigFiles.first());
    const double clipboardStall = rig.stallMs;
    std::printf("48 MP photo, image work after the read: %.1f ms in all, longest GUI-thread stall %.1f ms (target <= 16)\n",
                directMs, directStall);
    std::printf("48 MP photo through the clipboard (%lld MB PNG): read on the GUI thread %.1f ms, "
                "shot on disk %.1f ms, longest stall %.1f ms%s\n",
                QFileInfo(bigFiles.first()).size() / 1'000'000, rig.readMs, rig.shotMs, clipboardStall,
                ok ? "" : " (not stored)");
    rig.state.flush();
    return 0;
}
