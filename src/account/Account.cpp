#include "account/Account.h"

#include "account/LoginMemory.h"
#include "account/OKReply.h"
#include "account/PingReply.h"
#include "account/QXServer.h"
#include "platform/WakeNotifier.h"
#include "state/Clock.h"
#include "state/Log.h"
#include "state/Text.h"

#include <QTimer>

Account::Account(WakeNotifier* wake, Schedule schedule, QObject* parent)
    : QObject(parent), current(AccountRecord::load()), wake(wake), schedule(schedule)
{
    state = current ? Status::active : Status::signedOut;
    usage = [] { return std::pair<int, int>{0, 0}; };
}

QString Account::gateSignedOut() { return QStringLiteral("还没登录 tarnel 账号"); }
QString Account::disabledNotice() { return QStringLiteral("你的账号已停用，请联系管理员"); }
QString Account::invalidLoginNotice()
{
    return QStringLiteral("登录已失效（账号可能被管理员删除了），请重新登录");
}
QString Account::removedDeviceNotice()
{
    return QStringLiteral("这台电脑已经从你的账号里移除了，请重新登录");
}

bool Account::isUsable() const { return current && state == Status::active; }

std::optional<QString> Account::gateReason() const
{
    switch (state) {
    case Status::signedOut:
        return gateSignedOut();
    case Status::disabled:
        return disabledNotice();
    case Status::active:
        break;
    }
    if (current)
        return std::nullopt;
    return gateSignedOut();
}

QString Account::disabledUsername() const
{
    if (refusedUsername)
        return *refusedUsername;
    return current ? current->username : QString();
}

void Account::start()
{
    if (timer)
        return;
    timer = new QTimer(this);
    timer->setInterval(schedule.every);
    connect(timer, &QTimer::timeout, this, [this] { ping(false); });
    timer->start();
    pingLater(schedule.first);
    if (wake)
        connect(wake, &WakeNotifier::woke, this, [this] { pingLater(schedule.afterWake); });
}

void Account::pingLater(std::chrono::milliseconds delay)
{
    QTimer::singleShot(delay, this, [this] { ping(false); });
}

QFuture<std::optional<QString>> Account::ping(bool userInitiated)
{
    if (!current && refusedUsername && refusedPassword)
        return signInAgain(userInitiated);
    if (!current)
        return QtFuture::makeReadyFuture(std::optional<QString>());
    // The reply belongs to this sign-in; one that comes back after a sign-out or another sign-in is
    // dropped, or it would undo what the user just did.
    // Likewise a reply that overtook a later check-in's reply would bring back an older state.
    const QString token = current->token;
    const quint64 number = ++pingsSent;
    const auto [servers, shots] = usage ? usage() : std::pair<int, int>{0, 0};
    return QXServer::request<PingReply>("POST", QStringLiteral("api/app/ping"),
                                        QXServer::checkInBody(servers, shots), token)
        .then(this, [this, token, number, userInitiated](const QXServer::Result<PingReply>& result)
                  -> std::optional<QString> {
            if (!current || current->token != token || number < newestApplied)
                return std::nullopt;
            if (!result.ok()) {
                const QXServer::Failure& failure = result.failure;
                pingError = failure.message;
                if (failure.status == 401 || failure.account == QLatin1String("invalid")) {
                    if (current->service && result.service != current->service) {
                        // Another service now answers at the address (another user's, say): its refusal
                        // says nothing of this sign-in.
                        const QUrl url = QXServer::defaultURL();
                        const QString text = QStringLiteral("%1 上的账号服务不是你登录的那个，登录还保留着")
                                                 .arg(url.host() + QLatin1Char(':') + QString::number(url.port(url.scheme() == QLatin1String("https") ? 443 : 80)));
                        pingError = text;
                        Log::write(QStringLiteral("账号：") + text);
                        Q_EMIT changed();
                        return userInitiated ? std::optional<QString>(text) : std::nullopt;
                    }
                    signOut(failure.account == QLatin1String("removed") ? removedDeviceNotice() : invalidLoginNotice());
                    return QStringLiteral("登录已失效");
                }
                Log::write(QStringLiteral("账号：报到失败 ") + failure.message);
                Q_EMIT changed();
                if (userInitiated)
                    return QStringLiteral("暂时连不上服务器（") + failure.message + QStringLiteral("），下次自动再试");
                return std::nullopt;
            }

            const PingReply& reply = *result.reply;
            newestApplied = number;
            pingedAt = Clock::instance().now();
            pingError.reset();
            forgetRefusedSignIn();
            // A new name, and the service's id for a sign-in saved before services named themselves.
            AccountRecord updated = *current;
            if (reply.displayName)
                updated.displayName = *reply.displayName;
            if (!updated.service)
                updated.service = result.service;
            if (updated != *current) {
                updated.save(); // the new name still shows when it cannot be saved
                current = updated;
            }
            const Status next = reply.account == QLatin1String("active") ? Status::active : Status::disabled;
            if (next != state) {
                Log::write(QStringLiteral("账号：服务器说 ") + reply.account);
                state = next;
                if (next == Status::disabled)
                    noticeText = disabledNotice();
                else
                    noticeText.reset();
            }
            Q_EMIT changed();
            if (reply.update && reply.update->available && onUpdate)
                onUpdate(*reply.update);
            return next == Status::active ? QStringLiteral("账号正常") : QStringLiteral("账号已停用");
        });
}

QFuture<Outcome<>> Account::signIn(const QString& username, const QString& password)
{
    const QString typed = trimBlanks(username);
    return QXServer::send<AuthReply>(QXServer::loginRequest(username, password))
        .then(this, [this, typed, password](const QXServer::Result<AuthReply>& result) {
            if (result.ok())
                return finish(*result.reply, result.service);
            if (result.failure.account == QLatin1String("disabled")) {
                refusedUsername = typed;
                refusedPassword = password;
                state = Status::disabled;
                Q_EMIT changed();
            }
            return Outcome<>::failure(result.failure.message);
        });
}

QFuture<Outcome<>> Account::registerAccount(const QString& username, const QString& password,
                                            const QString& displayName, const QString& invite)
{
    return QXServer::send<AuthReply>(QXServer::registerRequest(username, password, displayName, invite))
        .then(this, [this](const QXServer::Result<AuthReply>& result) {
            if (result.ok())
                return finish(*result.reply, result.service);
            return Outcome<>::failure(result.failure.message);
        });
}

Outcome<> Account::finish(const AuthReply& reply, const std::optional<QString>& service)
{
    if (!reply.token || reply.token->isEmpty())
        return Outcome<>::failure(QStringLiteral("服务器没有发登录凭证，请稍后再试"));
    AccountRecord record{reply.username, reply.displayName, *reply.token, reply.role, service};
    if (const Outcome<> saved = record.save(); !saved.ok())
        return saved;
    current = record;
    state = Status::active;
    noticeText.reset();
    forgetRefusedSignIn();
    Log::write(QStringLiteral("账号：已登录 ") + reply.username);
    Q_EMIT changed();
    ping(false);
    return Outcome<>::success();
}

void Account::signOut(const std::optional<QString>& notice)
{
    if (current)
        QXServer::request<OKReply>("POST", QStringLiteral("api/logout"), std::nullopt, current->token);
    AccountRecord::remove();
    current.reset();
    state = Status::signedOut;
    noticeText = notice;
    forgetRefusedSignIn();
    QString line = QStringLiteral("账号：已退出登录");
    if (notice)
        line += QStringLiteral("（") + *notice + QStringLiteral("）");
    Log::write(line);
    Q_EMIT changed();
}

void Account::forgetRefusedSignIn()
{
    refusedUsername.reset();
    refusedPassword.reset();
}

// Without a saved sign-in there is nothing to check in with: the refused sign-in is tried again, so an
// account enabled meanwhile is restored as the disabled card promises.
QFuture<std::optional<QString>> Account::signInAgain(bool userInitiated)
{
    const QString username = *refusedUsername;
    return QXServer::send<AuthReply>(QXServer::loginRequest(username, *refusedPassword))
        .then(this, [this, username, userInitiated](const QXServer::Result<AuthReply>& result)
                  -> std::optional<QString> {
            if (current || refusedUsername != username)
                return std::nullopt; // signed in or out meanwhile
            if (result.ok()) {
                const Outcome<> done = finish(*result.reply, result.service);
                if (done.ok()) {
                    LoginMemory::setLastUsername(username);
                    return QStringLiteral("账号正常");
                }
                return userInitiated ? std::optional<QString>(done.failure()) : std::nullopt;
            }
            const QXServer::Failure& failure = result.failure;
            if (failure.account == QLatin1String("disabled"))
                return QStringLiteral("账号已停用");
            if (failure.offline) {
                pingError = failure.message;
                Log::write(QStringLiteral("账号：报到失败 ") + failure.message);
                Q_EMIT changed();
                if (userInitiated)
                    return QStringLiteral("暂时连不上服务器（") + failure.message + QStringLiteral("），下次自动再试");
                return std::nullopt;
            }
            // Refused for another reason (a new password, the account gone): back to the sign-in form.
            signOut(failure.message);
            return failure.message;
        });
}
