#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

// Runs a view's refresh once on the next turn of the event loop, however many changes asked for it in
// between, so a burst of change notices costs one rebuild of the texts.
class CoalescedRefresh : public QObject {
    Q_OBJECT
public:
    explicit CoalescedRefresh(std::function<void()> refresh, QObject* parent = nullptr);

    void request();
    // Runs the refresh now when one is pending (before a measurement or a screenshot).
    void flush();
    bool pending() const { return timer.isActive(); }

    // Requests a refresh on every emission of the sender's signal.
    template <typename Sender, typename Signal>
    void follow(const Sender* sender, Signal signal)
    {
        connect(sender, signal, this, &CoalescedRefresh::request);
    }

private:
    std::function<void()> refresh;
    QTimer timer;
};
