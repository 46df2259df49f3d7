#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

class QWidget;

// Runs a view's refresh once on the next turn of the event loop, however many changes asked for it in
// between, so a burst of change notices costs one rebuild of the texts.
class CoalescedRefresh : public QObject {
    Q_OBJECT
public:
    explicit CoalescedRefresh(std::function<void()> refresh, QObject* parent = nullptr);

    void request();
    // Runs the refresh now when one is pending (before a measurement or a screenshot).
    void flush();
    bool pending() const { return timer.isActive() || stale; }
    // While `view` is hidden a request only marks it out of date; it is refreshed as it is shown, so a closed
    // window costs nothing however often its state changes.
    void onlyWhileShown(QWidget* view);

    // Requests a refresh on every emission of the sender's signal.
    template <typename Sender, typename Signal>
    void follow(const Sender* sender, Signal signal)
    {
        connect(sender, signal, this, &CoalescedRefresh::request);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void()> refresh;
    QTimer timer;
    QWidget* shownView = nullptr;
    bool stale = false;
};
