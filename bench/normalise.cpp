// Times ImageStore::normalise on a synthetic 4K screenshot against ImageMagick's convert doing the same
// resize and encode, in the same run.
//   build/bench/normalise [--runs N] [--convert PATH] [--keep DIR]
#include "capture/ImageStore.h"
#include "capture/PngWriter.h"
#include "SyntheticScreenshot.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <functional>

namespace {
constexpr int longSide = 2560;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double timedMs(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

qint64 fileSize(const QString& path) { return QFile(path).size(); }

bool runConvert(const QString& convert, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(convert, arguments);
    return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

void report(const char* path, double ours, qint64 ourBytes, double theirs, qint64 theirBytes)
{
    std::printf("%-5s tarnel %8.1f ms %9lld B | convert %8.1f ms %9lld B | ratio %.2f (%s)\n", path, ours,
                static_cast<long long>(ourBytes), theirs, static_cast<long long>(theirBytes), ours / theirs,
                ours <= theirs ? "tarnel no slower" : "tarnel slower");
}
} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("runs"), QStringLiteral("runs per case (median)"), QStringLiteral("N"),
                      QStringLiteral("7")});
    parser.addOption({QStringLiteral("convert"), QStringLiteral("ImageMagick convert"),
                      QStringLiteral("PATH"), QStringLiteral("convert")});
    parser.addOption({QStringLiteral("keep"), QStringLiteral("write both programs' results into DIR"),
                      QStringLiteral("DIR")});
    parser.addHelpOption();
    parser.process(app);
    const int runs = std::max(1, parser.value(QStringLiteral("runs")).toInt());
    QString convert = parser.value(QStringLiteral("convert"));
    if (!convert.contains(QLatin1Char('/')))
        convert = QStandardPaths::findExecutable(convert);
    if (convert.isEmpty()) {
        std::fprintf(stderr, "convert not found (apt-get install imagemagick)\n");
        return 1;
    }

    QTemporaryDir dir;
    const QImage screenshot = syntheticScreenshot();
    // Raw pixels, so convert spends next to nothing on decoding its input.
    const QString input = dir.filePath(QStringLiteral("screen.ppm"));
    if (!screenshot.save(input, "PPM"))
        return 1;
    const QString resize = QStringLiteral("%1x%1").arg(longSide);
    const QString png = dir.filePath(QStringLiteral("out.png"));
    const QString jpg = dir.filePath(QStringLiteral("out.jpg"));

    // The PNG must come out over the limit for the JPEG path: one byte less than it is.
    const auto pngResult = ImageStore::normalise(screenshot, longSide, std::numeric_limits<qint64>::max());
    if (!pngResult || pngResult->format != QLatin1String("png"))
        return 1;
    const qint64 jpegLimit = pngResult->bytes.size() - 1;
    qint64 jpegBytes = 0;

    std::vector<double> ourPng, ourJpeg, theirPng, theirJpeg, theirStart;
    bool ok = true;
    for (int run = 0; run < runs; ++run) {
        ourPng.push_back(timedMs([&] {
            ok &= bool(ImageStore::normalise(screenshot, longSide, std::numeric_limits<qint64>::max()));
        }));
        ourJpeg.push_back(timedMs([&] {
            const auto out = ImageStore::normalise(screenshot, longSide, jpegLimit);
            ok &= out && out->format == QLatin1String("jpg");
            jpegBytes = out ? out->bytes.size() : 0;
        }));
        theirPng.push_back(timedMs([&] { ok &= runConvert(convert, {input, "-resize", resize, png}); }));
        // The same work as the JPEG path: resize, PNG, then JPEG 85 on white.
        theirJpeg.push_back(timedMs([&] {
            ok &= runConvert(convert, {input, "-resize", resize, "-write", png, "-background", "white",
                                       "-flatten", "-quality", "85", jpg});
        }));
        theirStart.push_back(timedMs([&] { ok &= runConvert(convert, {input, "null:"}); }));
    }
    if (!ok) {
        std::fprintf(stderr, "a run failed\n");
        return 1;
    }
    if (parser.isSet(QStringLiteral("keep"))) {
        const QString keep = parser.value(QStringLiteral("keep"));
        const auto jpegResult = ImageStore::normalise(screenshot, longSide, jpegLimit);
        QFile(png).copy(keep + QStringLiteral("/convert.png"));
        QFile(jpg).copy(keep + QStringLiteral("/convert.jpg"));
        const std::pair<const char*, QByteArray> ours[] = {{"/tarnel.png", pngResult->bytes},
                                                           {"/tarnel.jpg", jpegResult->bytes}};
        for (const auto& [name, bytes] : ours) {
            QFile file(keep + QLatin1String(name));
            ok &= file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
        }
    }
    std::printf("3840x2160 -> %dx%d, median of %d runs, %d CPUs; convert: %s\n", pngResult->width,
                pngResult->height, runs, QThread::idealThreadCount(), qPrintable(convert));
    std::printf("(convert's times include starting and reading the raw input: %.1f ms)\n",
                median(theirStart));
    report("PNG", median(ourPng), pngResult->bytes.size(), median(theirPng), fileSize(png));
    // The PNG writer's files against Qt's default writer, which normalise used before.
    QImage flat(1920, 1080, QImage::Format_RGB32);
    flat.fill(QColor(236, 236, 236));
    {
        QPainter p(&flat);
        QRandomGenerator random(1);
        for (int i = 0; i < 400; ++i)
            p.fillRect(QRect(random.bounded(1900), random.bounded(1060), 10 + random.bounded(300), 6 + random.bounded(40)),
                       QColor::fromRgb(random.generate() | 0xff000000));
    }
    QImage photo(2560, 1707, QImage::Format_RGB32);
    QRandomGenerator noise(3);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x) {
            const int n = int(noise.bounded(30));
            photo.setPixel(x, y, qRgb((x / 11 + n) % 256, std::min(255, y / 7 + n / 2), std::min(255, (x + y) / 20 + n)));
        }
    const std::pair<const char*, QImage> pictures[] = {
        {"4K screenshot at 2560", *ImageStore::resized(screenshot, longSide)},
        {"1080p screenshot", screenshot.scaled(1920, 1080, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)},
        {"flat 1080p screenshot", flat},
        {"photo 2560x1707", photo}};
    for (const auto& [name, picture] : pictures) {
        QByteArray before;
        QBuffer buffer(&before);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "PNG");
        double beforeMs = 0, afterMs = 0;
        qint64 after = 0;
        beforeMs = timedMs([&] {
            QBuffer again;
            again.open(QIODevice::WriteOnly);
            picture.save(&again, "PNG");
        });
        afterMs = timedMs([&] { after = PngWriter::encode(picture).size(); });
        std::printf("PNG writer, %-22s %8lld B in %6.1f ms | Qt's default %8lld B in %6.1f ms | size %.2fx\n", name,
                    static_cast<long long>(after), afterMs, static_cast<long long>(before.size()), beforeMs,
                    double(after) / double(before.size()));
    }
    report("JPEG", median(ourJpeg), jpegBytes, median(theirJpeg), fileSize(jpg));
    return 0;
}
