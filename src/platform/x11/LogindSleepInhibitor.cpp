#include "platform/x11/LogindSleepInhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QFile>

namespace {
QString readWord(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).trimmed();
}
} // namespace

LogindSleepInhibitor::LogindSleepInhibitor(QObject* parent) : SleepInhibitor(parent) {}

bool LogindSleepInhibitor::onMainsPower() const { return onMainsPower(QStringLiteral("/sys/class/power_supply")); }

bool LogindSleepInhibitor::onMainsPower(const QString& powerSupplyRoot)
{
    bool batteryDischarging = false;
    const QDir root(powerSupplyRoot);
    for (const QString& name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
        const QString dir = root.filePath(name);
        const QString type = readWord(dir + QStringLiteral("/type"));
        if (type == QLatin1String("Battery")) {
            batteryDischarging |= readWord(dir + QStringLiteral("/status")) == QLatin1String("Discharging");
        } else if (readWord(dir + QStringLiteral("/online")) == QLatin1String("1")) {
            return true;
        }
    }
    return !batteryDischarging;
}

bool LogindSleepInhibitor::hold(const QString& why)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"),
                                                       QStringLiteral("/org/freedesktop/login1"),
                                                       QStringLiteral("org.freedesktop.login1.Manager"),
                                                       QStringLiteral("Inhibit"));
    call << QStringLiteral("idle") << QStringLiteral("tarnel") << why << QStringLiteral("block");
    const quint64 request = ++requests;
    pending = request;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, request](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
        if (reply.isError() || !reply.value().isValid())
            answered(request, std::nullopt);
        else
            answered(request, reply.value());
    });
    return true;
}

void LogindSleepInhibitor::answered(quint64 request, const std::optional<QDBusUnixFileDescriptor>& descriptor)
{
    if (request != pending)
        return; // released meanwhile: the descriptor closes as it goes out of scope
    pending = 0;
    if (!descriptor) {
        Q_EMIT lost();
        return;
    }
    lock = descriptor;
    Q_EMIT taken();
}

void LogindSleepInhibitor::release()
{
    pending = 0;
    lock.reset();
}
