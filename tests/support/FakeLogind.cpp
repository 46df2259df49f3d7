#include "support/FakeLogind.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString service = QStringLiteral("org.freedesktop.login1");

QString program() { return QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")); }
} // namespace

FakeLogind::FakeLogind() : connectionName(QStringLiteral("fake-logind-%1").arg(quintptr(this))) {}

FakeLogind::~FakeLogind()
{
    QDBusConnection::disconnectFromBus(connectionName);
    if (daemon.state() != QProcess::NotRunning) {
        daemon.terminate();
        if (!daemon.waitForFinished(3000)) {
            daemon.kill();
            daemon.waitForFinished(3000);
        }
    }
}

bool FakeLogind::available() { return !program().isEmpty(); }

QString FakeLogind::start()
{
    if (!available())
        return QStringLiteral("dbus-daemon is not installed");
    // Programs under test may run as another local user: the socket's folder must be open to them.
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    const QString socket = dir.filePath(QStringLiteral("system_bus_socket"));
    const QString config = dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write the bus configuration");
    file.write(QStringLiteral(
                   "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig>\n"
                   "  <type>system</type>\n"
                   "  <listen>unix:path=%1</listen>\n"
                   "  <auth>EXTERNAL</auth>\n"
                   "  <policy context=\"default\">\n"
                   "    <allow user=\"*\"/>\n"
                   "    <allow own=\"*\"/>\n"
                   "    <allow send_destination=\"*\"/>\n"
                   "    <allow receive_sender=\"*\"/>\n"
                   "  </policy>\n"
                   "</busconfig>\n")
                   .arg(socket)
                   .toUtf8());
    file.close();

    daemon.start(program(), {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                             QStringLiteral("--nopidfile"), QStringLiteral("--print-address")});
    if (!daemon.waitForStarted(5000))
        return QStringLiteral("dbus-daemon did not start: ") + daemon.errorString();
    const QDeadlineTimer deadline(5000);
    while (!daemon.canReadLine() && !deadline.hasExpired() && daemon.state() == QProcess::Running)
        daemon.waitForReadyRead(100);
    busAddress = QString::fromUtf8(daemon.readLine()).trimmed();
    if (busAddress.isEmpty())
        return QStringLiteral("dbus-daemon gave no address: ") + QString::fromLocal8Bit(daemon.readAllStandardError());
    ::chmod(QFile::encodeName(socket).constData(), 0777);

    QDBusConnection bus = QDBusConnection::connectToBus(busAddress, connectionName);
    if (!bus.isConnected())
        return QStringLiteral("cannot connect to the private bus: ") + bus.lastError().message();
    if (!bus.registerService(service))
        return QStringLiteral("cannot own %1: %2").arg(service, bus.lastError().message());
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/login1"), logindManager.get(), QDBusConnection::ExportAllSlots))
        return QStringLiteral("cannot register the manager object: ") + bus.lastError().message();
    return {};
}

FakeLogindManager::~FakeLogindManager()
{
    for (const Inhibition& inhibition : std::as_const(taken))
        ::close(inhibition.readFd);
}

QDBusUnixFileDescriptor FakeLogindManager::Inhibit(const QString& what, const QString& who, const QString& why,
                                                   const QString& mode)
{
    int fds[2];
    if (refuse || ::pipe(fds) != 0) {
        sendErrorReply(QDBusError::AccessDenied, QStringLiteral("refused"));
        return {};
    }
    taken.append({what, who, why, mode, fds[0]});
    const QDBusUnixFileDescriptor handed(fds[1]); // keeps its own copy
    ::close(fds[1]);
    return handed;
}

int FakeLogindManager::locksHeld() const
{
    int held = 0;
    for (const Inhibition& inhibition : taken) {
        pollfd p{inhibition.readFd, POLLIN, 0};
        if (::poll(&p, 1, 0) == 0)
            ++held; // no hang-up yet: someone still holds the write end
    }
    return held;
}

bool FakeLogind::announceWake() const
{
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                     QStringLiteral("org.freedesktop.login1.Manager"),
                                                     QStringLiteral("PrepareForSleep"));
    signal << false;
    return QDBusConnection(connectionName).send(signal);
}
