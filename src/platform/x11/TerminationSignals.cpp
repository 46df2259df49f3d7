#include "platform/x11/TerminationSignals.h"

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace {
constexpr int handled[] = {SIGTERM, SIGHUP};

std::atomic<int> wakeFd{-1};

void onSignal(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    if (const int fd = wakeFd.load(); fd >= 0)
        [[maybe_unused]] const auto written = ::write(fd, &byte, 1);
    errno = saved;
}
} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent)
{
    if (!Fd::makePipe(readEnd, writeEnd))
        return;
    Fd::setNonBlocking(readEnd.get());
    Fd::setNonBlocking(writeEnd.get());
    wakeFd.store(writeEnd.get());
    notifier = std::make_unique<QSocketNotifier>(readEnd.get(), QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, &TerminationSignals::drain);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : handled)
        ::sigaction(number, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    // Past this point the signals end the process as they would without us.
    for (const int number : handled)
        ::signal(number, SIG_DFL);
    wakeFd.store(-1);
}

void TerminationSignals::drain()
{
    unsigned char bytes[16];
    ssize_t count = 0;
    while ((count = ::read(readEnd.get(), bytes, sizeof bytes)) > 0)
        for (ssize_t i = 0; i < count; ++i)
            Q_EMIT received(bytes[i]);
}
