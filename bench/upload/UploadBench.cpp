// Prints how long one shot takes from the local file to a file on a loopback server: tarnel's put over
// its warm shared connection, scp as a user would run it (a new connection each time), and the floor, a
// bare `cat > f` through an already open ssh master.
#include "delivery/ReceiverClient.h"
#include "delivery/SSHConfig.h"
#include "delivery/SSHKey.h"
#include "platform/ProcessRunner.h"
#include "support/ReceiverDestination.h"
#include "support/SshServerFixture.h"
#include "support/TempDataDir.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>

namespace {
constexpr int runs = 30;

// Something like a 1080p screenshot PNG of about 145 KB: flat panels, a title gradient, and a busy area grown
// until the file reaches that size. The same picture on every run.
QByteArray screenshotPng()
{
    QImage image(1920, 1080, QImage::Format_RGB32);
    image.fill(QColor(236, 236, 236));
    QPainter p(&image);
    QRandomGenerator random(1);
    for (int i = 0; i < 400; ++i) {
        const QRect r(random.bounded(1900), random.bounded(1060), 10 + random.bounded(300), 6 + random.bounded(40));
        p.fillRect(r, QColor::fromRgb(random.generate() | 0xff000000));
    }
    QLinearGradient gradient(0, 0, 1920, 0);
    gradient.setColorAt(0, Qt::darkBlue);
    gradient.setColorAt(1, Qt::darkCyan);
    p.fillRect(QRect(0, 0, 1920, 40), gradient);
    p.end();
    QByteArray png;
    for (int y = 600; y < 1080; ++y) {
        for (int x = 200; x < 300; ++x)
            image.setPixel(x, y, random.generate());
        if (y % 10 != 9)
            continue;
        png.clear();
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        if (png.size() >= 145'000)
            break;
    }
    return png;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double timed(const std::function<bool()>& run)
{
    QElapsedTimer t;
    t.start();
    if (!run()) {
        std::fprintf(stderr, "run failed\n");
        std::exit(1);
    }
    return double(t.nsecsElapsed()) / 1e6;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TempDataDir data;
    const QString runtime = data.file(QStringLiteral("run"));
    // ssh's control sockets live in here (tarnel's: /tarnel/cm-<40 hex>, and ssh adds .<16 hex> while it makes
    // one); a socket path has room for 107 bytes.
    const int longest = int(QFile::encodeName(runtime).size()) + 68;
    if (longest > 107) {
        std::fprintf(stderr,
                     "the temporary folder's path is too long for ssh control sockets (%d of 107 bytes);"
                     " run with TMPDIR set to a short folder, e.g. TMPDIR=/tmp\n",
                     longest);
        return 1;
    }
    QDir().mkpath(runtime);
    ::chmod(QFile::encodeName(runtime).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());

    SshServerFixture sshd;
    if (const auto error = sshd.start()) {
        std::fprintf(stderr, "no sshd: %s\n", qPrintable(*error));
        return 1;
    }
    const auto account = sshd.account(QStringLiteral("tnbench"));
    const QString ours = SSHKey::ensure(SSHKey::defaultPath(), QStringLiteral("tarnel@bench")).value();
    const auto installed = ReceiverDestination::install(sshd, *account, ours);
    if (!installed.ok()) {
        std::fprintf(stderr, "no destination: %s\n", qPrintable(installed.failure()));
        return 1;
    }
    const std::optional<Server> server = installed.value();
    SSHConfig::write({ *server });

    // An ordinary, unrestricted key for scp and the floor.
    const auto plain = SSHKey::generate(QStringLiteral("bench@plain"));
    const QString plainKey = data.file(QStringLiteral("plain_key"));
    QFile keyFile(plainKey);
    keyFile.open(QIODevice::WriteOnly);
    keyFile.write(plain->privateFile);
    keyFile.close();
    ::chmod(QFile::encodeName(plainKey).constData(), 0600);
    sshd.authorize(*account, ReceiverDestination::authorizedLine(*server->setup.remoteDirAbsolute, ours) + plain->publicLine + '\n');

    const QString file = data.file(QStringLiteral("shot.png"));
    QFile shot(file);
    shot.open(QIODevice::WriteOnly);
    shot.write(screenshotPng());
    shot.close();
    const qint64 size = QFileInfo(file).size();
    const QString destination = account->name + QStringLiteral("@") + sshd.host();
    const QString port = QString::number(sshd.port());
    const QStringList common { QStringLiteral("-o"), QStringLiteral("BatchMode=yes"), QStringLiteral("-o"),
        QStringLiteral("StrictHostKeyChecking=no"), QStringLiteral("-o"), QStringLiteral("UserKnownHostsFile=/dev/null"),
        QStringLiteral("-o"), QStringLiteral("LogLevel=ERROR"), QStringLiteral("-i"), plainKey };

    // Warm tarnel's shared connection, as any earlier upload or the setup ping does.
    if (!ReceiverClient::ping(*server).result().ok())
        return 1;
    const QString master = runtime + QStringLiteral("/bench-master");
    ProcessRunner::run(ProcessRunner::sshPath(),
        QStringList { QStringLiteral("-M"), QStringLiteral("-S"), master, QStringLiteral("-o"),
            QStringLiteral("ControlPersist=yes"), QStringLiteral("-fN"), QStringLiteral("-p"), port } +
            common + QStringList { QStringLiteral("--"), destination },
        std::nullopt, 30);
    QFile source(file);
    source.open(QIODevice::ReadOnly);
    const QByteArray bytes = source.readAll();

    int sent = 0;
    const auto tarnelPut = [&] {
        return ReceiverClient::putNow(*server, file, QStringLiteral("20240101-120000-%1.png").arg(++sent)).ok();
    };
    const auto floorPut = [&] {
        return ProcessRunner::run(ProcessRunner::sshPath(),
                   { QStringLiteral("-S"), master, QStringLiteral("-p"), port, QStringLiteral("--"), destination,
                       QStringLiteral("cat > floor.png") },
                   bytes, 60)
                   .status == 0;
    };
    // The floor's first session over its new master is slow, as tarnel's was before the ping above.
    timed(floorPut);

    // All three take turns in one loop, so a busy machine weighs on each alike. Tarnel and the floor swap places
    // every round: whichever runs just after scp shares the machine with that connection's teardown.
    QList<double> tarnel, scp, floor;
    for (int i = 0; i < runs; ++i) {
        if (i % 2 == 0) {
            tarnel << timed(tarnelPut);
            floor << timed(floorPut);
        } else {
            floor << timed(floorPut);
            tarnel << timed(tarnelPut);
        }
        if (i % 3 == 0)
            scp << timed([&] {
                return ProcessRunner::run(QStringLiteral("/usr/bin/scp"),
                           QStringList { QStringLiteral("-q"), QStringLiteral("-P"), port } + common +
                               QStringList { file, destination + QStringLiteral(":scp.png") },
                           std::nullopt, 60)
                           .status == 0;
            });
    }
    ProcessRunner::run(ProcessRunner::sshPath(),
        { QStringLiteral("-S"), master, QStringLiteral("-O"), QStringLiteral("exit"), QStringLiteral("--"), destination },
        std::nullopt, 10);
    ReceiverDestination::closeConnection(*server);

    const double t = median(tarnel), s = median(scp), f = median(floor);
    std::printf("1080p PNG, %lld bytes, median of %d runs (scp: %lld)\n", size, runs, qlonglong(scp.size()));
    std::printf("tarnel put (warm connection)      %8.1f ms\n", t);
    std::printf("scp (cold, as a user runs it)     %8.1f ms\n", s);
    std::printf("floor: ssh -S <master> 'cat > f'  %8.1f ms\n", f);
    std::printf("tarnel / scp   = %.2fx (goal <= 0.5x)\n", t / s);
    std::printf("tarnel / floor = %.2fx (goal <= 1.3x)\n", t / f);
    return 0;
}
