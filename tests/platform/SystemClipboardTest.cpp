#include "capture/ClipboardWatcher.h"
#include "platform/x11/SystemClipboard.h"
#include "support/TempDataDir.h"
#include "support/TestImages.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace std::chrono_literals;

constexpr auto poll = 50ms;

namespace {
// Another program that owns the clipboard until it is stopped (or leaves by itself).
class Owner {
public:
    Owner(const QString& program, const QStringList& arguments)
    {
        process.start(program, arguments);
        started = process.waitForStarted(5000);
    }
    ~Owner()
    {
        process.kill();
        process.waitForFinished(5000);
    }
    bool started = false;
    QProcess process;
};

// xclip offering `file` as `type`.
std::unique_ptr<Owner> xclipOwner(const QString& type, const QString& file, const QStringList& options = {})
{
    return std::make_unique<Owner>(QStringLiteral("xclip"),
                                   QStringList{QStringLiteral("-quiet"), QStringLiteral("-selection"),
                                               QStringLiteral("clipboard"), QStringLiteral("-t"), type,
                                               QStringLiteral("-i"), file} +
                                       options);
}

// Partly see-through, with no two rows alike.
QImage pattern(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgba(x % 256, y % 256, (x * y) % 256, 255 - x % 64));
    return image;
}

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

struct Capture {
    QImage image;
    QString source;
};
} // namespace

class SystemClipboardTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    std::unique_ptr<SystemClipboard> clipboard;
    std::unique_ptr<ClipboardWatcher> watcher;
    QList<Capture> captures;
    QStringList unreadable;

    void watch()
    {
        watcher = std::make_unique<ClipboardWatcher>(*clipboard, ClipboardWatcher::Intervals{poll, 0ms});
        // As the shot store does: the bytes may still be arriving; a failure is said.
        watcher->onCapture = [this](const ClipboardImage& image, const QString& source) {
            const Outcome<QImage> decoded = image.decode();
            if (decoded.ok())
                captures.push_back({decoded.value(), source});
            else
                unreadable << decoded.failure();
        };
        watcher->onUnreadable = [this](const QString& message) { unreadable << message; };
        watcher->start();
    }

    QString save(const QImage& image, const char* format)
    {
        const QString path = dir.filePath(QStringLiteral("in-%1.%2").arg(captures.size()).arg(format));
        return image.save(path, format) ? path : QString();
    }

    // Waits for the clipboard to settle after another program took it.
    bool waitForChange(quint64 before)
    {
        return QTest::qWaitFor([&] { return clipboard->changeCount() > before; }, 5000);
    }

    // xclip offering `file` as `type`, once the clipboard shows it.
    std::unique_ptr<Owner> offer(const QString& type, const QString& file, const QStringList& options = {})
    {
        const quint64 before = clipboard->changeCount();
        auto owner = xclipOwner(type, file, options);
        if (!owner->started || !waitForChange(before))
            return nullptr;
        return owner;
    }

    // The owner's end is a change of its own: over before the next case writes or watches.
    void leave(std::unique_ptr<Owner>& owner)
    {
        const quint64 held = clipboard->changeCount();
        owner.reset();
        QVERIFY(waitForChange(held));
    }

    // Long enough for a few polls of the shortened interval.
    static void settle() { QTest::qWait(int(poll.count()) * 4); }

private Q_SLOTS:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("需要 X 服务器（DISPLAY）");
        if (QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty())
            QSKIP("需要 xclip");
        QVERIFY(dir.isValid());
    }

    void init()
    {
        captures.clear();
        unreadable.clear();
        clipboard = std::make_unique<SystemClipboard>();
    }

    void cleanup()
    {
        watcher.reset();
        clipboard.reset();
    }

    void copiedByAnotherProgram_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QStringList>("ownerOptions");
        QTest::addColumn<QImage>("image");    // null: nothing is taken
        QTest::addColumn<QString>("refusal"); // what the user is told instead of an image
        const QImage alpha = pattern(320, 200), large = TestImages::noise(1600, 1000);
        const QImage opaque = pattern(64, 48).convertToFormat(QImage::Format_RGB32);
        const QString none;
        QTest::newRow("png with alpha") << encoded(alpha, "png") << "image/png" << QStringList() << alpha << none;
        // Larger than one X request, so sent in pieces; asked for its types and its image once each, then gone,
        // as a program that quits after copying ("-loops 2": it leaves after serving two requests).
        QTest::newRow("large, owner leaves after two answers")
            << encoded(large, "png") << "image/png" << QStringList{QStringLiteral("-loops"), QStringLiteral("2")}
            << large << none;
        QTest::newRow("bmp") << encoded(opaque, "bmp") << "image/bmp" << QStringList() << opaque << none;
        // Offered only as TIFF (as some image programs do): read through Qt's image-format plugins.
        QTest::newRow("tiff") << encoded(opaque, "tiff") << "image/tiff" << QStringList() << opaque << none;
        // A picture in a type no decoder knows is said (and logged), not dropped without a word.
        QTest::newRow("unknown image type") << QByteArray("EMF?") << "image/x-emf" << QStringList() << QImage()
                                            << "剪贴板里的图片是 image/x-emf 格式，这台电脑读不了这种格式，没存";
        QTest::newRow("text") << QByteArray("not an image") << "UTF8_STRING" << QStringList() << QImage() << none;
        QTest::newRow("no decoder knows it") << QByteArray("not an image") << "image/png" << QStringList() << QImage()
                                             << "剪贴板里的图片读不出来（已损坏），没存";
        // Too large to read: said, not dropped without a word.
        QTest::newRow("too large to read")
            << TestImages::pngClaiming(QSize(30000, 30000)) << "image/png" << QStringList() << QImage()
            << "剪贴板里的图片读不出来（30000×30000，太大或已损坏），没存";
    }

    void copiedByAnotherProgram()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, type);
        QFETCH(QStringList, ownerOptions);
        QFETCH(QImage, image);
        QFETCH(QString, refusal);
        watch();
        const QString file = dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(writeWholeFile(file, bytes));
        {
            const auto owner = offer(type, file, ownerOptions);
            QVERIFY(owner);
            const int told = image.isNull() && refusal.isEmpty() ? 0 : 1;
            QTRY_COMPARE_WITH_TIMEOUT(captures.size() + unreadable.size(), told, 5000);
            settle();
        }
        // The owner has gone: the clipboard changed again, but there is no second image.
        settle();
        QCOMPARE(captures.size(), image.isNull() ? 0 : 1);
        QCOMPARE(unreadable, refusal.isEmpty() ? QStringList() : QStringList{refusal});
        if (image.isNull())
            return;
        QCOMPARE(captures[0].source, QStringLiteral("剪贴板"));
        const auto argb = QImage::Format_ARGB32;
        QCOMPARE(captures[0].image.convertToFormat(argb), image.convertToFormat(argb));
    }

    // A full-page capture and a stitched one: larger than Qt reads by default, still taken whole.
    void largeCopiesAreRead_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("full page") << QSize(2400, 15000);
        QTest::newRow("stitched") << QSize(12000, 9000);
    }

    void largeCopiesAreRead()
    {
        QFETCH(QSize, size);
        const QString file = save(TestImages::screenshot(size.width(), size.height(), 3), "png");
        QVERIFY(!file.isEmpty());
        watch();
        auto owner = offer(QStringLiteral("image/png"), file);
        QVERIFY(owner);
        QTRY_COMPARE_WITH_TIMEOUT(captures.size(), 1, 20000);
        QCOMPARE(captures[0].image.size(), size);
        QCOMPARE(unreadable, QStringList());
        leave(owner);
    }

    // An owner that offers an image and never delivers it: the copy fails within the wait, the next copy is read
    // again, and quitting meanwhile does not wait for the owner.
    void undeliveredCopyFails_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("patienceMs");
        QTest::addColumn<bool>("quit");
        QTest::addColumn<QString>("message");
        // Long enough for xclip to answer the next copy on a busy machine.
        const QString noAnswer = QStringLiteral("剪贴板里的图片没读到（复制它的程序 1 秒没有回应），没存");
        QTest::newRow("never answers") << "silent" << 1000 << false << noAnswer;
        QTest::newRow("sends no piece") << "stalled" << 1000 << false << noAnswer;
        QTest::newRow("quitting meanwhile")
            << "silent" << 60000 << true << QStringLiteral("剪贴板里的图片没读到（程序正在退出），没存");
    }

    void undeliveredCopyFails()
    {
        QFETCH(QString, mode);
        QFETCH(int, patienceMs);
        QFETCH(bool, quit);
        QFETCH(QString, message);
        clipboard = std::make_unique<SystemClipboard>(nullptr, std::chrono::milliseconds(patienceMs));
        auto owner = std::make_unique<Owner>(QStringLiteral(TARNEL_BINARY_DIR "/tests/support/mute-owner"),
                                             QStringList{mode});
        QVERIFY(owner->started);
        QVERIFY(waitForChange(0));
        const ClipboardImage read = clipboard->readImage().value();
        QVERIFY(!read.isNull());
        QElapsedTimer waited;
        waited.start();
        if (quit)
            clipboard.reset();
        QCOMPARE(read.decode().failure(), message);
        QVERIFY(waited.elapsed() < 5000);

        if (quit) {
            clipboard = std::make_unique<SystemClipboard>();
        } else {
            const QImage image = pattern(320, 200);
            auto next = offer(QStringLiteral("image/png"), save(image, "png"));
            QVERIFY(next);
            const Outcome<QImage> decoded = clipboard->readImage().value().decode();
            owner = std::move(next);
            QVERIFY2(decoded.ok(), qPrintable(decoded.failure()));
            const auto argb = QImage::Format_ARGB32;
            QCOMPARE(decoded.value().convertToFormat(argb), image.convertToFormat(argb));
        }
        leave(owner);
    }

    void ownTextWriteIsNoCapture()
    {
        watch();
        const quint64 before = clipboard->changeCount();
        clipboard->writeText(QStringLiteral("shot1: /tmp/截图.png"));
        QVERIFY(waitForChange(before));
        QVERIFY(clipboard->ownsClipboard());
        settle();
        QCOMPARE(captures.size(), 0);
        QVERIFY(clipboard->readImage().value().isNull());

        // Another program sees the text (it asks us while our event loop runs).
        QProcess reader;
        reader.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                               QStringLiteral("-o")});
        QTRY_COMPARE_WITH_TIMEOUT(reader.state(), QProcess::NotRunning, 5000);
        QCOMPARE(QString::fromUtf8(reader.readAllStandardOutput()), QStringLiteral("shot1: /tmp/截图.png"));
        // So does xterm's Shift+Insert, which reads the primary selection.
        QProcess primary;
        primary.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("primary"), QStringLiteral("-o")});
        QTRY_COMPARE_WITH_TIMEOUT(primary.state(), QProcess::NotRunning, 5000);
        QCOMPARE(QString::fromUtf8(primary.readAllStandardOutput()), QStringLiteral("shot1: /tmp/截图.png"));
    }
    // The start-up quiet time is the watcher's own: ClipboardWatcherTest::quietAfterCreation.
};

int main(int argc, char** argv)
{
    // Without an X server the test still starts, then skips.
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    else
        qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    SystemClipboardTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "SystemClipboardTest.moc"
