#include "capture/ClipboardWatcher.h"
#include "platform/x11/SystemClipboard.h"

#include <QGuiApplication>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace std::chrono_literals;

namespace {
// Another program that owns the clipboard until it is stopped.
class XclipOwner {
public:
    XclipOwner(const QString& type, const QString& file)
    {
        process.start(QStringLiteral("xclip"), {QStringLiteral("-quiet"), QStringLiteral("-selection"),
                                                QStringLiteral("clipboard"), QStringLiteral("-t"), type,
                                                QStringLiteral("-i"), file});
        started = process.waitForStarted(5000);
    }
    ~XclipOwner()
    {
        process.kill();
        process.waitForFinished(5000);
    }
    bool started = false;
    QProcess process;
};

QImage pattern(int w, int h, bool noisy)
{
    QImage image(w, h, QImage::Format_ARGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x)
            row[x] = noisy ? (random.generate() | 0xff000000u)
                           : qRgba(x % 256, y % 256, (x * y) % 256, 255 - x % 64);
    }
    return image;
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

    void watch(std::chrono::milliseconds quiet)
    {
        watcher = std::make_unique<ClipboardWatcher>(*clipboard, nullptr, quiet);
        watcher->onCapture = [this](const QImage& image, const QString& source) {
            captures.push_back({image, source});
        };
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

    static void settle() { QTest::qWait(int(ClipboardWatcher::pollInterval.count()) + 200); }

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
        clipboard = std::make_unique<SystemClipboard>();
    }

    void cleanup()
    {
        watcher.reset();
        clipboard.reset();
    }

    void imageCopiedByAnotherProgram_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("format");
        QTest::newRow("png with alpha") << pattern(320, 200, false) << "image/png" << QByteArray("png");
        // Larger than one X request: the owner sends it in pieces.
        QTest::newRow("large png") << pattern(1600, 1000, true) << "image/png" << QByteArray("png");
        QTest::newRow("bmp") << pattern(64, 48, false).convertToFormat(QImage::Format_RGB32) << "image/bmp"
                             << QByteArray("bmp");
    }

    void imageCopiedByAnotherProgram()
    {
        QFETCH(QImage, image);
        QFETCH(QString, type);
        QFETCH(QByteArray, format);
        watch(0ms);
        const QString file = save(image, format.constData());
        QVERIFY(!file.isEmpty());
        {
            XclipOwner owner(type, file);
            QVERIFY(owner.started);
            QTRY_COMPARE_WITH_TIMEOUT(captures.size(), 1, 5000);
            settle();
        }
        // The owner has gone: the clipboard changed again, but there is no second image.
        settle();
        QCOMPARE(captures.size(), 1);
        QCOMPARE(captures[0].source, QStringLiteral("剪贴板"));
        QCOMPARE(captures[0].image.size(), image.size());
        const auto argb = QImage::Format_ARGB32;
        QCOMPARE(captures[0].image.convertToFormat(argb), image.convertToFormat(argb));
    }

    void ownTextWriteIsNoCapture()
    {
        watch(0ms);
        const quint64 before = clipboard->changeCount();
        clipboard->writeText(QStringLiteral("shot1: /tmp/截图.png"));
        QVERIFY(waitForChange(before));
        QVERIFY(clipboard->ownsClipboard());
        settle();
        QCOMPARE(captures.size(), 0);
        QVERIFY(clipboard->readImage().isNull());

        // Another program sees the text (it asks us while our event loop runs).
        QProcess reader;
        reader.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                               QStringLiteral("-o")});
        QTRY_COMPARE_WITH_TIMEOUT(reader.state(), QProcess::NotRunning, 5000);
        QCOMPARE(QString::fromUtf8(reader.readAllStandardOutput()), QStringLiteral("shot1: /tmp/截图.png"));
    }

    void changeInTheFirstTwoSecondsIsIgnored()
    {
        const QString first = save(pattern(50, 40, false), "png");
        const QString second = save(pattern(60, 40, false), "png");
        QElapsedTimer sinceCreation;
        sinceCreation.start();
        watch(ClipboardWatcher::defaultStartupQuiet);
        {
            const quint64 before = clipboard->changeCount();
            XclipOwner owner(QStringLiteral("image/png"), first);
            QVERIFY(owner.started);
            QVERIFY(waitForChange(before));
            if (sinceCreation.elapsed() > 1800)
                QSKIP("xclip 启动太慢，没赶在开头 2 秒内");
            QTest::qWait(2300);
            QCOMPARE(captures.size(), 0);
        }
        // Once the quiet time is over the next copy counts.
        XclipOwner owner(QStringLiteral("image/png"), second);
        QTRY_COMPARE_WITH_TIMEOUT(captures.size(), 1, 5000);
        QCOMPARE(captures[0].image.size(), QSize(60, 40));
    }

    void nonImageCopyIsNoCapture()
    {
        watch(0ms);
        const QString file = dir.filePath(QStringLiteral("text.txt"));
        QFile text(file);
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not an image");
        text.close();
        const quint64 before = clipboard->changeCount();
        // Text, and a type that claims to be an image but no decoder knows.
        XclipOwner owner(QStringLiteral("UTF8_STRING"), file);
        QVERIFY(owner.started);
        QVERIFY(waitForChange(before));
        settle();
        QCOMPARE(captures.size(), 0);
        QVERIFY(clipboard->readImage().isNull());

        const quint64 again = clipboard->changeCount();
        XclipOwner bogus(QStringLiteral("image/png"), file);
        QVERIFY(bogus.started);
        QVERIFY(waitForChange(again));
        settle();
        QCOMPARE(captures.size(), 0);
    }
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
