#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>

// When reports go out; tests shorten these.
struct DiagnosticsSchedule {
    std::chrono::milliseconds first{90000};       // after start()
    std::chrono::milliseconds every{600000};      // the repeating report
    std::chrono::milliseconds linkSettle{30000};  // after the last change of the peer situation
    std::chrono::milliseconds gateChange{5000};   // after the gate is re-evaluated while running
};

// On the test update channel, sends a diagnostic report to the account service: build, this computer's
// device name, the link program's live status and the tails of both logs (never screenshots). Runs on the
// main thread; the report is built on a worker.
class Diagnostics : public QObject {
    Q_OBJECT
public:
    using Schedule = DiagnosticsSchedule;

    struct Device {
        QString name;
        QString alias;
    };

    // `logsDir` holds tarnel.log and tarnel-net.log.
    explicit Diagnostics(const QString& logsDir, Schedule schedule = {}, QObject* parent = nullptr);

    // The account token; nothing or empty while signed out.
    std::function<std::optional<QString>()> tokenProvider;
    // Whether reports may be sent at all (test channel on and a usable account).
    std::function<bool()> enabled;
    // This computer's name and alias in the device link; empty while the link has no status.
    std::function<Device()> deviceInfo;
    // The link program's reply line to a status request, nothing when it cannot be asked. Called on a
    // worker thread, so it must not touch main-thread state.
    std::function<std::optional<QByteArray>()> linkStatusReply;

    void start();
    void stop();
    bool running() const { return timer.isActive(); }
    // One upload after `delay`, replacing any upload still waiting.
    void schedule(std::chrono::milliseconds delay, const QString& reason);
    // The link signature of the current peers; a change after the first schedules a report.
    void noteLinks(const QString& signature);
    // After the account gate or the test-channel setting was evaluated: stop when not enabled, else
    // report soon when running, else start.
    void reconsider();
    // Sends one report now unless disabled, already sending or signed out (all silently skipped).
    void upload(const QString& reason);

    std::optional<QString> pendingReason() const;
    bool uploading() const { return inFlight; }
    const std::optional<QDateTime>& lastUploadAt() const { return lastUpload; }

    // The report: the reason, build, version, device, the status reply (embedded when it is a JSON
    // object or array, else null) and the log tails.
    static QJsonObject payload(const QString& reason, const Device& device,
                               const std::optional<QByteArray>& statusReply, const QString& logsDir);

    static constexpr int appLogPieces = 150;
    static constexpr int netLogPieces = 400;

Q_SIGNALS:
    // An upload that was not skipped has finished.
    void finished(const QString& reason, bool ok);

private:
    QString logs;
    Schedule times;
    QTimer timer;
    QTimer pending;
    QString pendingText;
    QString lastSignature;
    bool inFlight = false;
    std::optional<QDateTime> lastUpload;
};
