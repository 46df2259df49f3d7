#pragma once

#include "delivery/SSHSession.h"

#include <QList>
#include <QTimer>
#include <QWidget>
#include <functional>

class QHBoxLayout;
class QLineEdit;
class QPushButton;
class OnScreen;
class ServerRegistry;
class ServersPageState;
class StatusLabel;

// The address field with "连接", the hint or the registry's input error under it, and one chip per live
// ssh session that no listed server stands for. The sessions are scanned off the main thread while the
// box is on screen: at once when it appears, then `scanIntervalMs` after each scan ends; hiding it, or
// minimising its window or leaving that on another desktop, stops it.
// Left for another page (its window still shown), the box starts afresh: no text, no error, no chips.
class AddServerBox : public QWidget {
    Q_OBJECT
public:
    static constexpr int defaultScanIntervalMs = 3000;
    using Scan = std::function<QList<SSHSession>()>;

    AddServerBox(ServerRegistry& registry, ServersPageState& page, bool autoFocus, QWidget* parent = nullptr);

    // Reads the registry again (the error line and which chips are offered).
    void refresh();
    // Presses "连接" as Return does; false when it is disabled.
    bool connectTyped();

    // The scan, run on a worker (tests hand in their own) and its pause.
    void setScan(Scan scan) { scanner = std::move(scan); }
    void setScanInterval(int ms) { scanTimer.setInterval(ms); }
    QList<SSHSession> sessions() const { return live; }

    QLineEdit* field() const { return address; }
    QPushButton* connectButton() const { return connectNow; }

Q_SIGNALS:
    void scanned();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void startScan();
    void followScreen(bool shown);
    void clear();
    void rebuildChips(const QList<SSHSession>& offered);

    ServerRegistry& registry;
    ServersPageState& page;
    bool autoFocus;
    QLineEdit* address;
    QPushButton* connectNow;
    StatusLabel* line;
    QWidget* chipRow;
    QHBoxLayout* chips;
    QList<SSHSession> live;
    QList<SSHSession> shown;
    Scan scanner;
    QTimer scanTimer;
    OnScreen* onScreen;
    quint64 scanGeneration = 0; // a scan that ends after hiding belongs to an older generation
    bool scanning = false;
};
