#include "support/NetNamespaces.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

NetNamespaces::NetNamespaces() : tag(QString::number(QCoreApplication::applicationPid() % 100000)) {}

NetNamespaces::~NetNamespaces()
{
    if (made) {
        // Deleting a namespace deletes its veth ends, and with them their peers here.
        run({QStringLiteral("netns"), QStringLiteral("del"), name('a')});
        run({QStringLiteral("netns"), QStringLiteral("del"), name('b')});
    }
    if (lockFd >= 0)
        ::close(lockFd);
}

QString NetNamespaces::name(char machine) const { return QStringLiteral("tn%1%2").arg(tag).arg(QLatin1Char(machine)); }

QStringList NetNamespaces::launcher(char machine) const
{
    return {QStringLiteral("/usr/sbin/ip"), QStringLiteral("netns"), QStringLiteral("exec"), name(machine)};
}

bool NetNamespaces::run(const QStringList& args, QString* error) const
{
    QProcess ip;
    ip.start(QStringLiteral("/usr/sbin/ip"), args);
    const bool ok = ip.waitForFinished(10000) && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0;
    if (!ok && error)
        *error = QStringLiteral("ip %1: %2").arg(args.join(QLatin1Char(' ')), QString::fromLocal8Bit(ip.readAllStandardError()));
    return ok;
}

QString NetNamespaces::setUp()
{
    QString error;
    // Test runs of other checkouts may want the same addresses: they wait for this rig to go.
    lockFd = ::open("/tmp/tarnel-netns.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd < 0 || flock(lockFd, LOCK_EX) != 0)
        return QStringLiteral("cannot lock /tmp/tarnel-netns.lock");
    // Holding the lock, no other rig lives: any namespace of ours still here is left by a killed run,
    // and its addresses would shadow this rig's.
    QProcess list;
    list.start(QStringLiteral("/usr/sbin/ip"), {QStringLiteral("netns"), QStringLiteral("list")});
    list.waitForFinished(10000);
    static const QRegularExpression stale(QStringLiteral("^(tn\\d+[ab])(\\s|$)"));
    for (const QString& line : QString::fromLocal8Bit(list.readAllStandardOutput()).split(QLatin1Char('\n')))
        if (const QRegularExpressionMatch m = stale.match(line); m.hasMatch())
            run({QStringLiteral("netns"), QStringLiteral("del"), m.captured(1)});
    // A program left running in such a namespace keeps it, and this side's pair with 10.77.1.1 or 10.77.2.1
    // on it, after the name is gone: those pairs go too.
    list.start(QStringLiteral("/usr/sbin/ip"), {QStringLiteral("-br"), QStringLiteral("link")});
    list.waitForFinished(10000);
    static const QRegularExpression strayPair(QStringLiteral("^(tn\\d+[AB])@"));
    for (const QString& line : QString::fromLocal8Bit(list.readAllStandardOutput()).split(QLatin1Char('\n')))
        if (const QRegularExpressionMatch m = strayPair.match(line); m.hasMatch())
            run({QStringLiteral("link"), QStringLiteral("del"), m.captured(1)});
    const QString a = name('a');
    const QString b = name('b');
    if (!run({"netns", "add", a}, &error))
        return error;
    made = true;
    if (!run({"netns", "add", b}, &error))
        return error;
    const auto in = [](const QString& ns, const QStringList& args) { return QStringList{"-n", ns} + args; };
    const QList<QStringList> steps{
        {"link", "add", "tn" + tag + "A", "type", "veth", "peer", "name", "up0", "netns", a},
        {"link", "add", "tn" + tag + "B", "type", "veth", "peer", "name", "up0", "netns", b},
        in(a, {"link", "add", "ab0", "type", "veth", "peer", "name", "ab0", "netns", b}),
        {"addr", "add", "10.77.1.1/24", "dev", "tn" + tag + "A"},
        {"addr", "add", "10.77.2.1/24", "dev", "tn" + tag + "B"},
        {"link", "set", "tn" + tag + "A", "up"},
        {"link", "set", "tn" + tag + "B", "up"},
        in(a, {"addr", "add", "10.77.1.2/24", "dev", "up0"}),
        in(b, {"addr", "add", "10.77.2.2/24", "dev", "up0"}),
        in(a, {"addr", "add", "10.77.3.1/24", "dev", "ab0"}),
        in(b, {"addr", "add", "10.77.3.2/24", "dev", "ab0"}),
    };
    for (const QStringList& step : steps)
        if (!run(step, &error))
            return error;
    for (const QString& ns : {a, b}) {
        for (const char* link : {"lo", "up0", "ab0"})
            if (!run(in(ns, {"link", "set", link, "up"}), &error))
                return error;
    }
    if (!run(in(a, {"route", "add", "default", "via", "10.77.1.1"}), &error) ||
        !run(in(b, {"route", "add", "default", "via", "10.77.2.1"}), &error))
        return error;
    return {};
}

bool NetNamespaces::setDirect(bool up)
{
    return run({"-n", name('a'), "link", "set", "ab0", up ? "up" : "down"}) &&
           run({"-n", name('b'), "link", "set", "ab0", up ? "up" : "down"});
}

bool NetNamespaces::addDirectAddress(char machine, const QString& cidr)
{
    return run({"-n", name(machine), "addr", "add", cidr, "dev", "ab0"});
}

bool NetNamespaces::addUplinkAddresses(char machine, const QString& inside, const QStringList& here)
{
    bool ok = run({"-n", name(machine), "addr", "add", inside, "dev", "up0", "nodad"});
    for (const QString& cidr : here)
        ok = ok && run({"addr", "add", cidr, "dev", "tn" + tag + QChar::fromLatin1(char(machine - 'a' + 'A')), "nodad"});
    return ok;
}
