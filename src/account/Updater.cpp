#include "account/Updater.h"

#include "account/MachineInfo.h"
#include "account/QXServer.h"
#include "account/UpdateStage.h"
#include "platform/ProcessRunner.h"
#include "state/Clock.h"
#include "platform/WakeNotifier.h"
#include "state/Log.h"
#include "state/Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPromise>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

namespace {
QList<QByteArray>& compiledKeys()
{
    static QList<QByteArray> keys;
    return keys;
}

// The first three numbers of a version text; pieces that are no numbers are dropped, missing ones are 0.
std::array<qint64, 3> versionNumbers(const QString& text)
{
    std::array<qint64, 3> numbers{0, 0, 0};
    size_t filled = 0;
    for (const QString& piece : text.split(QLatin1Char('.'), Qt::SkipEmptyParts)) {
        if (const auto n = UpdateStage::wholeNumber(piece); n && filled < numbers.size())
            numbers[filled++] = *n;
    }
    return numbers;
}

// "Debian GNU/Linux 12.11.0" -> ("Debian GNU/Linux", "12.11.0")
std::pair<QString, QString> splitSystem(const QString& system)
{
    const qsizetype blank = system.lastIndexOf(QLatin1Char(' '));
    return blank < 0 ? std::pair(system, QString()) : std::pair(system.left(blank), system.mid(blank + 1));
}

// The network layer's own errors carry codes below 100; HTTP statuses map to codes above.
bool isTransportError(QNetworkReply::NetworkError error) { return error > 0 && error < 100; }
} // namespace

Updater::Updater(AppInfo running, WakeNotifier* wake, Schedule schedule, QObject* parent)
    : QObject(parent), running(std::move(running)), wake(wake), schedule(schedule),
      network(std::make_unique<QNetworkAccessManager>())
{
    requirement = [runsAsBundle = this->running.runsAsBundle()]() -> Keys {
        if (!runsAsBundle || publisherKeys().isEmpty())
            return std::nullopt;
        return publisherKeys();
    };
    system = [] { return MachineInfo::system(); };
}

Updater::~Updater() = default;

void Updater::usePublisherKeys(const QList<QByteArray>& keys) { compiledKeys() = keys; }

QList<QByteArray> Updater::publisherKeys() { return compiledKeys(); }

bool Updater::installsUpdates() const
{
    return running.buildNumber() >= 1 && requirement && requirement().has_value();
}

QString Updater::selfBuiltText()
{
    return QStringLiteral("这份 tarnel 是自己构建的，不会自己更新。要新版本：在源码目录拉取最新代码，再运行 "
                          "./scripts/run.sh 重新构建；或者改用发布的 tarnel 安装包，它会自己更新。");
}

QString Updater::directory() { return Paths::updatesDirectory(); }

QString Updater::stageDirectory(qint64 build) { return directory() + QLatin1Char('/') + QString::number(build); }

void Updater::log(const QString& message)
{
    if (!Paths::ensure(directory()))
        return;
    QFile file(directory() + QStringLiteral("/updater.log"));
    const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append, ownerOnly))
        return;
    if (file.permissions() != ownerOnly)
        file.setPermissions(ownerOnly); // made by an earlier version with the default mode
    const QString stamp = Clock::instance().now().toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    file.write((QLatin1Char('[') + stamp + QStringLiteral("] ") + message + QLatin1Char('\n')).toUtf8());
}

void Updater::setPhase(const Phase& phase)
{
    if (current == phase)
        return;
    current = phase;
    Q_EMIT changed();
}

void Updater::setPrompt(bool on)
{
    if (prompting == on)
        return;
    prompting = on;
    Q_EMIT changed();
}

void Updater::setManual(const QString& text)
{
    manual = text;
    Q_EMIT changed();
}

void Updater::clearManualResult()
{
    if (!manual)
        return;
    manual.reset();
    Q_EMIT changed();
}

void Updater::start()
{
    if (timer || running.buildNumber() < 1 || !running.runsAsBundle())
        return;
    cleanUpOldDownloads();
    QTimer::singleShot(schedule.first, this, [this] { check(false); });
    timer = new QTimer(this);
    timer->setInterval(schedule.every);
    connect(timer, &QTimer::timeout, this, [this] { check(false); });
    timer->start();
    if (wake)
        connect(wake, &WakeNotifier::woke, this,
                [this] { QTimer::singleShot(schedule.afterWake, this, [this] { check(false); }); });
}

void Updater::cleanUpOldDownloads()
{
    const QDir dir(directory());
    for (const QString& name : dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        const auto number = UpdateStage::wholeNumber(name);
        if (!number || *number > running.buildNumber())
            continue;
        const QString path = dir.filePath(name);
        if (!QDir(path).removeRecursively())
            QFile::remove(path);
    }
}

bool Updater::systemAtLeast(const QString& minimum) const
{
    return versionNumbers(splitSystem(system()).second) >= versionNumbers(minimum);
}

QFuture<void> Updater::check(bool userInitiated)
{
    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    checkThen(userInitiated, [promise] { promise->finish(); });
    return promise->future();
}

QFuture<void> Updater::consider(const UpdateInfo& offer, bool userInitiated)
{
    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    considerThen(offer, userInitiated, [promise] { promise->finish(); });
    return promise->future();
}

void Updater::checkThen(bool userInitiated, Done done)
{
    switch (current.kind) {
    case Phase::Kind::downloading:
    case Phase::Kind::checking:
    case Phase::Kind::installing:
        return done();
    case Phase::Kind::ready:
        if (userInitiated)
            installNow();
        return done();
    case Phase::Kind::idle:
    case Phase::Kind::failed:
        break;
    }
    if (lookingForStage)
        return done();
    setPhase(Phase::of(Phase::Kind::checking));
    QXServer::send<UpdateInfo>(QXServer::updateRequest(running.buildNumber()))
        .then(this, [this, userInitiated, done](const QXServer::Result<UpdateInfo>& result) {
            if (!result.ok()) {
                const QString text = result.failure.message;
                setPhase(Phase::failed(text));
                if (userInitiated)
                    setManual(QStringLiteral("检查更新失败：") + text);
                log(QStringLiteral("检查更新失败：") + text);
                return done();
            }
            setPhase(Phase::of(Phase::Kind::idle));
            considerThen(*result.reply, userInitiated, done);
        });
}

void Updater::considerThen(const UpdateInfo& offer, bool userInitiated, Done done)
{
    if ((current.kind != Phase::Kind::idle && current.kind != Phase::Kind::failed) || lookingForStage)
        return done();
    // Nothing it downloaded could be checked, let alone installed.
    if (!installsUpdates()) {
        if (userInitiated)
            setManual(selfBuiltText());
        return done();
    }
    if (!offer.available || !offer.build || *offer.build <= running.buildNumber() || !offer.version) {
        if (userInitiated)
            setManual(QStringLiteral("已经是最新版本（%1）").arg(running.version));
        return done();
    }
    const QString version = *offer.version;
    const qint64 build = *offer.build;
    if (offer.minimumSystem && !systemAtLeast(*offer.minimumSystem)) {
        if (userInitiated)
            setManual(QStringLiteral("新版本 %1 需要 %2 %3 或更新")
                          .arg(version, splitSystem(system()).first, *offer.minimumSystem));
        return done();
    }
    existingStage(offer, [this, offer, userInitiated, version, build, done](std::optional<QString> app) {
        if (current.kind != Phase::Kind::idle && current.kind != Phase::Kind::failed)
            return done();
        if (app) {
            stageReady(offer, *app);
            if (userInitiated)
                installNow();
            return done();
        }
        if (userInitiated)
            Log::write(QStringLiteral("手动检查更新：发现 %1（%2），下载后自动换包重开").arg(version).arg(build));
        download(offer, version, build, [this, userInitiated, done](std::optional<QString> problem) {
            if (problem) {
                setPhase(Phase::failed(*problem));
                if (userInitiated)
                    setManual(QStringLiteral("下载更新失败：") + *problem);
                log(QStringLiteral("下载更新失败：") + *problem);
            } else if (userInitiated) {
                installNow();
            }
            done();
        });
    });
}

void Updater::existingStage(const UpdateInfo& offer, std::function<void(std::optional<QString>)> found)
{
    const QString app = stageDirectory(*offer.build) + QLatin1Char('/') + UpdateStage::bundleName();
    if (!QFileInfo::exists(app))
        return found(std::nullopt);
    lookingForStage = true;
    QtConcurrent::run(ProcessRunner::pool(), [app, build = *offer.build, keys = requirement()] {
        return UpdateStage::verify(app, build, keys);
    }).then(this, [this, app, found](const std::optional<QString>& problem) {
        lookingForStage = false;
        found(problem ? std::nullopt : std::optional<QString>(app));
    });
}

std::optional<QString> Updater::offerProblem(const UpdateInfo& offer) const
{
    const QUrl url(offer.url.value_or(QString()), QUrl::StrictMode);
    const QString scheme = url.scheme();
    const bool allowed = scheme == QLatin1String("https")
        || (scheme == QLatin1String("http") && QXServer::defaultURL().scheme() == QLatin1String("http"));
    if (!offer.url || !url.isValid() || url.host().isEmpty() || !allowed || !offer.sha256)
        return QStringLiteral("更新信息不完整");
    return std::nullopt;
}

void Updater::download(const UpdateInfo& offer, const QString& version, qint64 build,
                       std::function<void(std::optional<QString>)> done)
{
    if (auto problem = offerProblem(offer))
        return done(problem);
    const QString expected = offer.sha256->toLower();
    setPhase(Phase::downloading(version, 0));
    const QString stageDir = stageDirectory(build);
    QDir(stageDir).removeRecursively();
    if (!Paths::ensure(directory()) || !Paths::ensure(stageDir))
        return done(QStringLiteral("建不了更新目录 %1").arg(stageDir));
    const QString archive = stageDir + QLatin1Char('/') + UpdateStage::archiveName();
    // The offered size bounds the download; without one, the most an archive may unpack to does.
    const qint64 maxBytes = offer.size && *offer.size > 0 ? *offer.size : UpdateStage::unpackedLimit(qint64(1) << 40);
    fetch(QUrl(*offer.url), version, archive, maxBytes, [=, this](std::optional<QString> problem) {
        if (problem)
            return done(problem);
        QtConcurrent::run(ProcessRunner::pool(), [stageDir, expected, build, keys = requirement()] {
            return UpdateStage::settle(stageDir, expected, build, keys);
        }).then(this, [=, this](const std::optional<QString>& refused) {
            if (refused)
                return done(refused);
            stageReady(offer, stageDir + QLatin1Char('/') + UpdateStage::bundleName());
            log(QStringLiteral("新版本 %1（%2）已下载并校验通过").arg(version).arg(build));
            done(std::nullopt);
        });
    });
}

void Updater::fetch(const QUrl& url, const QString& version, const QString& destination, qint64 maxBytes,
                    std::function<void(std::optional<QString>)> done)
{
    auto file = std::make_shared<QFile>(destination + QStringLiteral(".part"));
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate))
        return done(file->errorString());
    QNetworkRequest request(url);
    request.setTransferTimeout(60000);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    QNetworkReply* reply = network->get(request);
    auto received = std::make_shared<qint64>(0);
    auto tooLarge = std::make_shared<bool>(false);
    const auto keep = [file, received, tooLarge, maxBytes](const QByteArray& bytes) {
        if (*tooLarge)
            return;
        *received += bytes.size();
        if (*received > maxBytes)
            *tooLarge = true;
        else
            file->write(bytes);
    };
    connect(reply, &QNetworkReply::readyRead, this, [reply, keep, tooLarge] {
        keep(reply->readAll());
        if (*tooLarge)
            reply->abort();
    });
    connect(reply, &QNetworkReply::downloadProgress, this, [this, version](qint64 received, qint64 total) {
        if (total <= 0)
            return;
        const double fraction = double(received) / double(total);
        // Handed over like a report from another thread: one that lands after the download ended is dropped.
        QMetaObject::invokeMethod(this, [this, version, fraction] {
            if (current.kind == Phase::Kind::downloading)
                setPhase(Phase::downloading(version, fraction));
        }, Qt::QueuedConnection);
    });
    connect(reply, &QNetworkReply::finished, this, [reply, file, destination, done, keep, tooLarge] {
        reply->deleteLater();
        keep(reply->readAll());
        if (*tooLarge) {
            file->remove();
            return done(QStringLiteral("下载更新失败：更新包比说好的大"));
        }
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (isTransportError(reply->error())) {
            file->remove();
            return done(QStringLiteral("下载更新失败：") + reply->errorString());
        }
        if (!status.isValid() || status.toInt() != 200) {
            file->remove();
            return done(QStringLiteral("下载更新失败：服务器返回 %1").arg(status.isValid() ? status.toInt() : 0));
        }
        if (!file->flush() || file->error() != QFileDevice::NoError) {
            const QString why = file->errorString();
            file->remove();
            return done(why);
        }
        file->close();
        QFile::remove(destination);
        if (!file->rename(destination))
            return done(file->errorString());
        done(std::nullopt);
    });
}

void Updater::stageReady(const UpdateInfo& info, const QString& app)
{
    stage = Staged{info, app};
    setPhase(Phase::ready(info.version.value_or(QString()), info.notes.value_or(QStringList())));
    promptIfAppropriate();
}

void Updater::promptIfAppropriate()
{
    if (current.kind != Phase::Kind::ready || prompting || !stage || !stage->info.build)
        return;
    if (snooze && snooze->build == *stage->info.build && Clock::instance().now() < snooze->until)
        return;
    setPrompt(true);
}

void Updater::later()
{
    if (stage && stage->info.build)
        snooze = Snooze{*stage->info.build, Clock::instance().now().addSecs(21600)};
    setPrompt(false);
}

QString Updater::installFailureText(const QString& problem) const
{
    const QString where = stage && stage->info.url ? QStringLiteral("，或从 %1 下载新版手动安装").arg(*stage->info.url)
                                                   : QStringLiteral("，或稍后再检查更新");
    return QStringLiteral("没能开始更新：") + problem + QStringLiteral("。可以再点「立即更新」试一次") + where;
}

void Updater::installNow()
{
    // One installation at a time: a held Return or a second check must not start another script.
    if (!stage || current.kind == Phase::Kind::installing)
        return;
    const bool promptOpen = prompting;
    setPhase(Phase::of(Phase::Kind::installing));
    const QString target = installTarget ? installTarget() : QString();
    const std::optional<QString> problem = launchInstall ? launchInstall(stage->app, target)
                                                         : std::optional<QString>(QStringLiteral("这个版本不能自己安装更新"));
    if (problem) {
        // Said where the user asked: in the prompt that stays open, else as the manual check's answer.
        const QString text = installFailureText(*problem);
        Phase failed = Phase::failed(text);
        failed.version = stage->info.version.value_or(QString());
        setPhase(failed);
        log(text);
        Log::write(QStringLiteral("自动更新：") + text);
        if (!promptOpen)
            setManual(text);
        return;
    }
    setPrompt(false);
    log(QStringLiteral("开始更新到 %1：换 %2").arg(stage->info.version.value_or(QString()), target));
    Log::write(QStringLiteral("自动更新：开始换 %1，退出").arg(QFileInfo(target).fileName()));
    QTimer::singleShot(installQuitDelayMs(), this, [this] {
        if (quit)
            quit();
    });
}
