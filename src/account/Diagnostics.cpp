#include "account/Diagnostics.h"

#include "account/QXServer.h"
#include "state/AppInfo.h"
#include "state/Clock.h"
#include "state/Log.h"

#include <QJsonDocument>
#include <QPointer>
#include <QtConcurrent>

Diagnostics::Diagnostics(const QString& logsDir, Schedule schedule, QObject* parent)
    : QObject(parent), logs(logsDir), times(schedule)
{
    timer.setInterval(times.every);
    connect(&timer, &QTimer::timeout, this, [this] { upload(QStringLiteral("定时")); });
    pending.setSingleShot(true);
    connect(&pending, &QTimer::timeout, this, [this] { upload(pendingText); });
}

void Diagnostics::start()
{
    if (timer.isActive())
        return;
    timer.start();
    schedule(times.first, QStringLiteral("启动"));
}

void Diagnostics::stop()
{
    timer.stop();
    pending.stop();
}

void Diagnostics::schedule(std::chrono::milliseconds delay, const QString& reason)
{
    pendingText = reason;
    pending.start(delay);
}

std::optional<QString> Diagnostics::pendingReason() const
{
    return pending.isActive() ? std::optional<QString>(pendingText) : std::nullopt;
}

void Diagnostics::noteLinks(const QString& signature)
{
    if (signature == lastSignature)
        return;
    const bool first = lastSignature.isEmpty();
    lastSignature = signature;
    if (!first)
        schedule(times.linkSettle, QStringLiteral("链路变化"));
}

void Diagnostics::reconsider()
{
    if (!enabled || !enabled())
        stop();
    else if (running())
        schedule(times.gateChange, QStringLiteral("开启测试版"));
    else
        start();
}

void Diagnostics::upload(const QString& reason)
{
    if (!enabled || !enabled() || inFlight)
        return;
    const std::optional<QString> token = tokenProvider ? tokenProvider() : std::nullopt;
    if (!token || token->isEmpty())
        return;
    inFlight = true;
    const Device device = deviceInfo ? deviceInfo() : Device{};
    auto statusReply = linkStatusReply;
    const QString logsDir = logs;
    QtConcurrent::run([=] {
        return payload(reason, device, statusReply ? statusReply() : std::nullopt, logsDir);
    }).then(this, [this, reason, token](const QJsonObject& report) {
        QXServer::request<OKReply>("POST", QStringLiteral("api/diag"), report, token)
            .then(this, [this, reason](const QXServer::Result<OKReply>& result) {
                if (result.ok()) {
                    lastUpload = Clock::instance().now();
                    Log::write(QStringLiteral("诊断：已上报（%1；测试版，不含截图）").arg(reason));
                } else {
                    Log::write(QStringLiteral("诊断：上报失败 ") + result.failure.message);
                }
                inFlight = false;
                Q_EMIT finished(reason, result.ok());
            });
    });
}

QJsonObject Diagnostics::payload(const QString& reason, const Device& device,
                                 const std::optional<QByteArray>& statusReply, const QString& logsDir)
{
    QJsonValue status = QJsonValue::Null;
    if (statusReply) {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(*statusReply, &error);
        if (error.error == QJsonParseError::NoError && doc.isObject())
            status = doc.object();
        else if (error.error == QJsonParseError::NoError && doc.isArray())
            status = doc.array();
    }
    const AppInfo& app = AppInfo::current();
    return QJsonObject{
        {QStringLiteral("reason"), reason},
        {QStringLiteral("build"), app.buildNumber()},
        {QStringLiteral("version"), app.version},
        {QStringLiteral("deviceName"), device.name},
        {QStringLiteral("deviceAlias"), device.alias},
        {QStringLiteral("status"), status},
        {QStringLiteral("appLog"), Log::tail(logsDir + QStringLiteral("/tarnel.log"), appLogPieces)},
        {QStringLiteral("netLog"), Log::tail(logsDir + QStringLiteral("/tarnel-net.log"), netLogPieces)},
    };
}
