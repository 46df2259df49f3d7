#pragma once

#include "account/UpdateInfo.h"
#include "state/AppInfo.h"

#include <QDateTime>
#include <QFuture>
#include <QObject>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QTimer;
class WakeNotifier;

// When the updater checks on its own; tests shorten these.
struct UpdaterSchedule {
    std::chrono::milliseconds first{8000};
    std::chrono::milliseconds every{std::chrono::hours(6)};
    std::chrono::milliseconds afterWake{12000};
};

// Keeps tarnel up to date: asks the account service for the newest build of the chosen channel, decides
// whether an offer is newer and runs here, downloads and checks it into a stage folder (or reuses a stage
// already checked), raises the prompt, and starts the installation. Main thread only.
class Updater : public QObject {
    Q_OBJECT
public:
    struct Phase {
        enum class Kind { idle, checking, downloading, ready, failed, installing };
        Kind kind = Kind::idle;
        QString version;    // downloading, ready; failed when the staged version could not be installed
        double fraction = 0; // downloading
        QStringList notes;  // ready
        QString message;    // failed
        bool operator==(const Phase&) const = default;

        static Phase downloading(const QString& version, double fraction) { return {Kind::downloading, version, fraction, {}, {}}; }
        static Phase ready(const QString& version, const QStringList& notes) { return {Kind::ready, version, 0, notes, {}}; }
        static Phase failed(const QString& message) { return {Kind::failed, {}, 0, {}, message}; }
        static Phase of(Kind kind) { return {kind, {}, 0, {}, {}}; }
    };
    struct Staged {
        UpdateInfo info;
        QString app; // tarnel.app in the stage folder
    };
    struct Snooze {
        qint64 build = 0;
        QDateTime until;
    };
    using Schedule = UpdaterSchedule;
    using Keys = std::optional<QList<QByteArray>>;

    // `wake` may be null (no wake notices).
    explicit Updater(AppInfo running, WakeNotifier* wake = nullptr, Schedule schedule = {}, QObject* parent = nullptr);
    ~Updater() override;

    // The publishers' public keys this copy accepts: the keys compiled into the build, and only while it
    // runs as the release bundle. Tests replace it.
    std::function<Keys()> requirement;
    // This computer's system as MachineInfo::system() says it ("Debian GNU/Linux 12.11.0").
    std::function<QString()> system;
    // Installation: where the new version goes, and starting the swap (an error text, or none once the
    // swap runs on its own). Then `quit` ends the application.
    std::function<QString()> installTarget;
    std::function<std::optional<QString>(const QString& source, const QString& target)> launchInstall;
    std::function<void()> quit;

    // The keys compiled into this program; set once by main().
    static void usePublisherKeys(const QList<QByteArray>& keys);
    static QList<QByteArray> publisherKeys();

    // True when this copy fetches and installs newer releases itself: the release bundle with a build
    // number and the publishers' keys (the program in a build tree does not).
    bool installsUpdates() const;
    // What a manual check tells a copy that does not update itself.
    static QString selfBuiltText();

    const Phase& phase() const { return current; }
    bool showPrompt() const { return prompting; }
    const std::optional<QString>& manualResult() const { return manual; }
    void clearManualResult();
    const std::optional<Staged>& staged() const { return stage; }
    const std::optional<Snooze>& snoozed() const { return snooze; }
    bool started() const { return timer != nullptr; }

    void start();
    // Both finish when their outcome is published.
    QFuture<void> check(bool userInitiated);
    QFuture<void> consider(const UpdateInfo& offer, bool userInitiated);
    void later();
    void installNow();

    void cleanUpOldDownloads();
    bool systemAtLeast(const QString& minimum) const;
    // Writes one line to updates/updater.log.
    static void log(const QString& message);

    static QString directory();
    static QString stageDirectory(qint64 build);
    static int installQuitDelayMs() { return 300; }

Q_SIGNALS:
    // Any published member changed (phase, prompt flag, manual result).
    void changed();

private:
    using Done = std::function<void()>;
    void checkThen(bool userInitiated, Done done);
    void considerThen(const UpdateInfo& offer, bool userInitiated, Done done);
    void download(const UpdateInfo& offer, const QString& version, qint64 build,
                  std::function<void(std::optional<QString>)> done);
    // Stops with a failure once more than `maxBytes` arrived.
    void fetch(const QUrl& url, const QString& version, const QString& destination, qint64 maxBytes,
               std::function<void(std::optional<QString>)> done);
    void existingStage(const UpdateInfo& offer, std::function<void(std::optional<QString>)> found);
    void stageReady(const UpdateInfo& info, const QString& app);
    void promptIfAppropriate();
    void setPhase(const Phase& phase);
    void setPrompt(bool on);
    void setManual(const QString& text);
    // Why installing the staged update did not start, and what the user can do.
    QString installFailureText(const QString& problem) const;
    std::optional<QString> offerProblem(const UpdateInfo& offer) const;

    AppInfo running;
    WakeNotifier* wake = nullptr;
    Schedule schedule;
    Phase current;
    bool prompting = false;
    std::optional<QString> manual;
    std::optional<Staged> stage;
    std::optional<Snooze> snooze;
    QTimer* timer = nullptr;
    bool lookingForStage = false; // a stage is being checked on a worker: offers wait their turn
    std::unique_ptr<QNetworkAccessManager> network;
};
