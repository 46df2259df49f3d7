#pragma once

#include "state/Outcome.h"

#include "account/AccountRecord.h"
#include "account/AuthReply.h"
#include "account/UpdateInfo.h"

#include <QDateTime>
#include <QFuture>
#include <QObject>
#include <chrono>
#include <functional>
#include <optional>

class QTimer;
class WakeNotifier;

// When check-ins run; tests shorten these.
struct AccountSchedule {
    std::chrono::milliseconds first{3000};
    std::chrono::milliseconds every{std::chrono::hours(6)};
    std::chrono::milliseconds afterWake{8000};
};

// Whether the user is signed in to the account service and whether the account may be used, kept fresh
// by check-ins (shortly after start, every 6 hours, shortly after each wake). Main thread only.
class Account : public QObject {
    Q_OBJECT
public:
    enum class Status { signedOut, active, disabled };

    using Schedule = AccountSchedule;

    // Loads the saved sign-in: active with a record, else signed out. `wake` may be null (no wake notices).
    explicit Account(WakeNotifier* wake = nullptr, Schedule schedule = {}, QObject* parent = nullptr);

    const std::optional<AccountRecord>& record() const { return current; }
    Status status() const { return state; }
    const std::optional<QString>& notice() const { return noticeText; }
    const std::optional<QDateTime>& lastPingAt() const { return pingedAt; }
    const std::optional<QString>& lastPingError() const { return pingError; }

    bool isUsable() const;
    std::optional<QString> gateReason() const;
    // The login name the disabled-account card names: the one typed for a sign-in the service refused as
    // disabled, else the saved record's; empty when there is neither.
    QString disabledUsername() const;

    // Servers in the list and today's shots, sent with each check-in. Returns 0 and 0 until set.
    std::function<std::pair<int, int>()> usage;
    // Called with every offered update (available true) that a check-in brings.
    std::function<void(const UpdateInfo&)> onUpdate;

    // Sets up the check-in timers and the wake handler, once.
    void start();
    bool started() const { return timer != nullptr; }

    // One check-in. Answers a short state text on success; on failure a message when user-initiated,
    // else nothing. Without a saved sign-in it signs in again with what was typed for a sign-in the service
    // refused as disabled, and otherwise answers nothing at once.
    QFuture<std::optional<QString>> ping(bool userInitiated);
    QFuture<Outcome<>> signIn(const QString& username, const QString& password);
    QFuture<Outcome<>> registerAccount(const QString& username, const QString& password,
                                       const QString& displayName, const QString& invite);
    // Signs out at once; the service is told in the background.
    void signOut(const std::optional<QString>& notice = std::nullopt);

    static QString gateSignedOut();
    static QString disabledNotice();
    static QString invalidLoginNotice();
    static QString removedDeviceNotice(); // this computer was removed from the account on another device

Q_SIGNALS:
    // Any published member changed (record, status, notice, last check-in, the disabled name).
    void changed();

private:
    Outcome<> finish(const AuthReply& reply, const std::optional<QString>& service);
    QFuture<std::optional<QString>> signInAgain(bool userInitiated);
    void forgetRefusedSignIn();
    void pingLater(std::chrono::milliseconds delay);

    std::optional<AccountRecord> current;
    Status state = Status::signedOut;
    std::optional<QString> noticeText;
    std::optional<QDateTime> pingedAt;
    std::optional<QString> pingError;
    std::optional<QString> refusedUsername;
    // The password of that refused sign-in: in memory only, for as long as the account stays refused.
    std::optional<QString> refusedPassword;
    quint64 pingsSent = 0;
    quint64 newestApplied = 0; // the latest check-in whose reply was applied

    WakeNotifier* wake = nullptr;
    Schedule schedule;
    QTimer* timer = nullptr;
};
