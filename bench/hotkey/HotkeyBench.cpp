// Hot key press -> last character in a real xterm, through the real grab, paste flow and typer.
// Needs an X server with a window manager (DISPLAY), xterm and xdotool. Usage: bench_hotkey [runs] [reuseMs]
#include "capture/ShotStore.h"
#include "delivery/HotkeyCenter.h"
#include "delivery/PasteController.h"
#include "platform/x11/X11ActiveWindow.h"
#include "platform/x11/X11Display.h"
#include "platform/x11/X11GlobalHotkeys.h"
#include "platform/x11/X11Keyboard.h"
#include "state/Sequencer.h"
#include "state/StateStore.h"
#include "state/Store.h"
#include "support/FakeFlash.h"
#include "support/TempDataDir.h"
#include "support/TestXterm.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <cstdio>

namespace {
// Alt+Super+3 as a keyboard would send it, through XTest (no xdotool start-up in the measurement).
void pressHotkey(Display* display)
{
    const KeyCode alt = XKeysymToKeycode(display, XK_Alt_L);
    const KeyCode super = XKeysymToKeycode(display, XK_Super_L);
    const KeyCode three = XKeysymToKeycode(display, XK_3);
    XTestFakeKeyEvent(display, alt, True, CurrentTime);
    XTestFakeKeyEvent(display, super, True, CurrentTime);
    XTestFakeKeyEvent(display, three, True, CurrentTime);
    XTestFakeKeyEvent(display, three, False, CurrentTime);
    XTestFakeKeyEvent(display, super, False, CurrentTime);
    XTestFakeKeyEvent(display, alt, False, CurrentTime);
    XFlush(display);
}

struct Figures {
    double median = 0, best = 0, worst = 0;
    int exact = 0, runs = 0;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}
}

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 15;
    const int reuseMs = argc > 2 ? atoi(argv[2]) : 150;
    if (!haveX11Tools({QStringLiteral("xterm"), QStringLiteral("xdotool")}) || !X11Display::get()) {
        std::fprintf(stderr, "需要 X 服务器（DISPLAY）、窗口管理器、xterm 和 xdotool\n");
        return 2;
    }

    TempDataDir data;
    Store store(data.file(QStringLiteral("data")));
    StateStore state(store);
    Sequencer sequencer(store);
    ShotStore shots(state, sequencer, store.path(QStringLiteral("shots")));
    QImage image(640, 400, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    Settings settings;
    settings.tokenFormat = QStringLiteral("%s"); // exactly the measured text, nothing around it
    shots.handle(image, settings, false, QDateTime::currentDateTime());

    auto hotkeys = X11GlobalHotkeys::forApplication();
    HotkeyCenter center(*hotkeys);
    X11ActiveWindow activeWindow;
    X11Keyboard keyboard(reuseMs);
    FakeFlash flash;
    PasteController paste(shots, activeWindow, keyboard, flash);
    QString text;
    Server bench;
    bench.name = QStringLiteral("bench");
    bench.matchKeywords = {QStringLiteral("bench")};
    bench.setup.keyInstalled = true;
    Upload done;
    done.state = Upload::State::done;
    shots.setUpload(shots.shots().last().name, bench.id, done);
    paste.settings = [&] { return settings; };
    paste.servers = [&] { return QList<Server>{bench}; };
    paste.remotePath = [&](const Server&, const QString&) -> std::optional<QString> { return text; };
    paste.upload = [](const QString&, const Server&, std::function<void(const Upload&)>) {};
    paste.copyText = [](const QString&) {};
    center.onPaste = [&] { paste.hotkeyPressed(); };
    center.install();
    if (!center.registerHotkey(HotkeyCenter::Key::paste, *HotkeySpec::parse(QStringLiteral("⌥⌘3")))) {
        std::fprintf(stderr, "热键注册失败\n");
        return 1;
    }
    TestXterm terminal(QStringLiteral("bench@host: ~"));
    if (!terminal.start()) {
        std::fprintf(stderr, "xterm 没起来\n");
        return 1;
    }

    QString chinese;
    for (char32_t c = 0x6C34; chinese.size() < 36; ++c)
        chinese += QString::fromUcs4(&c, 1);
    const QString ascii = QStringLiteral("shot12: /home/deploy/tarnel/shots/20250101-120000-12.png $x;");
    Display* display = X11Display::get();

    auto measure = [&](const QString& sample) {
        text = sample;
        const QByteArray expected = sample.toUtf8();
        std::vector<double> times;
        Figures figures;
        for (int run = 0; run < runs; ++run) {
            const QByteArray before = terminal.received();
            // Arrival is watched from its own thread: the main thread is busy with the paste meanwhile.
            std::atomic<qint64> arrivedNs = -1;
            QElapsedTimer timer;
            std::thread watcher([&] {
                while (timer.nsecsElapsed() < 5'000'000'000LL) {
                    if (terminal.received().size() >= before.size() + expected.size()) {
                        arrivedNs = timer.nsecsElapsed();
                        return;
                    }
                    QThread::usleep(200);
                }
            });
            timer.start();
            pressHotkey(display);
            while (arrivedNs < 0 && timer.elapsed() < 5000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            watcher.join();
            QByteArray now;
            const double ms = arrivedNs < 0 ? 5000.0 : double(arrivedNs) / 1e6;
            // Let the paste finish its tail (restoring keys) before the next press.
            while (paste.isRunning())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(50);
            now = terminal.received();
            figures.exact += now == before + expected;
            if (now != before + expected)
                std::fprintf(stderr, "run %d not exact: got %s\n", run + 1, now.mid(before.size()).constData());
            times.push_back(ms);
        }
        figures.runs = runs;
        figures.median = median(times);
        figures.best = *std::min_element(times.begin(), times.end());
        figures.worst = *std::max_element(times.begin(), times.end());
        return figures;
    };

    const Figures asciiFigures = measure(ascii);
    const Figures chineseFigures = measure(chinese);
    std::printf("hot key -> last character in xterm (%d runs each, key reuse after %d ms)\n", runs, reuseMs);
    std::printf("  60 ASCII characters:   median %.1f ms (best %.1f, worst %.1f), byte-exact %d/%d\n",
                asciiFigures.median, asciiFigures.best, asciiFigures.worst, asciiFigures.exact, asciiFigures.runs);
    std::printf("  36 Chinese characters: median %.1f ms (best %.1f, worst %.1f), byte-exact %d/%d\n",
                chineseFigures.median, chineseFigures.best, chineseFigures.worst, chineseFigures.exact,
                chineseFigures.runs);
    return asciiFigures.exact == runs && chineseFigures.exact == runs ? 0 : 1;
}
