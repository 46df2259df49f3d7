#pragma once

#include "platform/Fd.h"

#include <QObject>
#include <memory>

class QSocketNotifier;

// SIGTERM and SIGHUP (a logout, `kill`) as an event: the handler only writes a byte to a pipe, and the
// event loop reads it and emits `received`, so the program can quit the way "退出 tarnel" does.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

Q_SIGNALS:
    void received(int signalNumber);

private:
    void drain();

    Fd readEnd;
    Fd writeEnd;
    std::unique_ptr<QSocketNotifier> notifier;
};
