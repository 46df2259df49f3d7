// Prints, in one run on loopback: the median time `tarnel-net dial` takes until the peer's sshd greets
// (direct link); the time of a 200 MB `cat` over ssh straight to sshd, through dial on a direct link and
// through dial on the relay, with their ratios; and an idle serve's RSS and CPU time over a minute.
// Usage: bench_net [idle seconds, default 60]
#include "support/AccountServiceFixture.h"
#include "support/NetNodeFixture.h"
#include "support/SshServerFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {
constexpr int dialRuns = 30;
const QString bulk = QStringLiteral("head -c 200000000 /dev/zero");

QString keyLine(const NetNodeFixture& node)
{
    QFile file(node.publicKeyPath());
    file.open(QIODevice::ReadOnly);
    return QString::fromUtf8(file.readAll().trimmed());
}

bool waitLinked(const NetNodeFixture& from, const NetNodeFixture& to)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 30000) {
        const auto link = from.peer(to.deviceId()).value(QStringLiteral("link")).toObject();
        if (link.value(QStringLiteral("state")).toString() == QLatin1String("connected"))
            return true;
        QThread::msleep(100);
    }
    return false;
}

double seconds(const QString& program, const QStringList& args)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(program, args);
    process.waitForFinished(600000);
    return process.exitCode() == 0 ? double(clock.nsecsElapsed()) / 1e9 : -1;
}

// Until the first bytes of the sshd greeting come out of dial.
double dialConnectMs(const NetNodeFixture& from, const NetNodeFixture& to)
{
    QProcess dial;
    QElapsedTimer clock;
    clock.start();
    dial.start(NetNodeFixture::binary(), {"dial", "--state", from.stateDir(), to.deviceId(), "22"});
    dial.waitForReadyRead(15000);
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    dial.kill();
    dial.waitForFinished();
    return ms;
}

QList<qint64> procStat(qint64 pid) // utime + stime in clock ticks, RSS in kB
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    stat.open(QIODevice::ReadOnly);
    const QList<QByteArray> fields = stat.readAll().split(' ');
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    status.open(QIODevice::ReadOnly);
    qint64 rss = 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            rss = line.mid(6).trimmed().split(' ').first().toLongLong();
    return {fields.value(13).toLongLong() + fields.value(14).toLongLong(), rss};
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 60;
    AccountServiceFixture service{AccountServiceFixture::Options{false, false}};
    SshServerFixture sshd;
    if (!service.start() || sshd.start())
        return std::fprintf(stderr, "service or sshd did not start\n"), 1;
    const auto login = sshd.account(QStringLiteral("tnbench"));
    service.signUp(QStringLiteral("bench"), QStringLiteral("secret1"));
    const QJsonObject real{{"syncMs", 15000}, {"pingMs", 5000}, {"relayAfterMs", 4000}, {"maxBackoffMs", 30000},
                           {"sshTarget", QStringLiteral("127.0.0.1:%1").arg(sshd.port())}};
    QJsonObject relayed = real;
    relayed.insert("listen", "127.0.0.2");
    relayed.insert("advertise", QJsonArray{"127.0.0.3"});
    relayed.insert("relayAfterMs", 300);

    NetNodeFixture a, b, c, d;
    QString keys;
    for (auto [node, config] : {std::pair{&a, real}, {&b, real}, {&c, relayed}, {&d, relayed}}) {
        node->writeToken(service.signIn(QStringLiteral("bench"), QStringLiteral("secret1"))); // a token serves one device
        NetNodeFixture::Options options;
        options.server = service.url();
        options.sshUser = login->name;
        options.config = config;
        if (!node->start(options))
            return std::fprintf(stderr, "serve did not start\n"), 1;
        keys += keyLine(*node) + '\n';
    }
    sshd.authorize(*login, keys);
    if (!waitLinked(a, b) || !waitLinked(c, d))
        return std::fprintf(stderr, "no link\n"), 1;

    QList<double> connects;
    for (int i = 0; i < dialRuns; ++i)
        connects.append(dialConnectMs(a, b));
    std::sort(connects.begin(), connects.end());
    std::printf("dial connect (direct, until the sshd greeting): median %.1f ms, min %.1f, max %.1f over %d runs\n",
                connects.at(dialRuns / 2), connects.first(), connects.last(), dialRuns);

    const QStringList plainArgs{"-F", "/dev/null", "-i", a.privateKeyPath(), "-o", "BatchMode=yes", "-o",
                                "StrictHostKeyChecking=no", "-o", "UserKnownHostsFile=/dev/null", "-o", "LogLevel=ERROR",
                                "-p", QString::number(sshd.port()), "-l", login->name, "--", "127.0.0.1", bulk};
    const double plain = seconds("ssh", plainArgs);
    const double direct = seconds("ssh", a.sshArguments(b.deviceId(), login->name, bulk));
    const double relay = seconds("ssh", c.sshArguments(d.deviceId(), login->name, bulk));
    std::printf("200 MB over ssh: plain %.2f s; through dial, direct %.2f s (%.0f%% of plain's throughput); "
                "through the relay %.2f s (%.0f%%)\n",
                plain, direct, 100 * plain / direct, relay, 100 * plain / relay);

    const qint64 pid = a.process().processId();
    const auto before = procStat(pid);
    QThread::sleep(idleSeconds);
    const auto after = procStat(pid);
    std::printf("idle serve with one linked peer: RSS %lld kB; CPU %.2f s over %d s\n", after.at(1),
                double(after.at(0) - before.at(0)) / double(sysconf(_SC_CLK_TCK)), idleSeconds);
    return 0;
}
