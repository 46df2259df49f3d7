#include "platform/x11/LogindWakeNotifier.h"

#include <QDBusConnection>

LogindWakeNotifier::LogindWakeNotifier(QObject* parent) : WakeNotifier(parent)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    subscribed = bus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                             QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"),
                             this, SLOT(prepareForSleep(bool)));
}

void LogindWakeNotifier::prepareForSleep(bool starting)
{
    if (!starting)
        Q_EMIT woke();
}
