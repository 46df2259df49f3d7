#include "delivery/Uploader.h"

#include "platform/Flash.h"
#include "capture/ShotStore.h"
#include "delivery/ReceiverClient.h"
#include "delivery/SSHConfig.h"
#include "delivery/SessionDetector.h"
#include "state/Clock.h"
#include "state/Log.h"

#include <QImageReader>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <unistd.h>

namespace {
constexpr int rmBatch = 100;
// The round of every fifth shot of a day (the 1st, 6th, 11th, …) clears old shots off the destinations.
constexpr int remotePurgeEvery = 5;

QString pendingKey(const QString& name, const QUuid& serverId) { return name + QLatin1Char('/') + serverId.toString(); }

bool isDone(const Shot& shot, const Server& server)
{
    const auto upload = shot.upload(server.id);
    return upload && upload->state == Upload::State::done;
}
} // namespace

struct Uploader::Round {
    QString name;
    QList<Server> targets;
    QHash<QUuid, bool> succeeded;
    qsizetype left = 0;
    bool superseded = false;
    bool purgeAfter = false;
};

Uploader::Uploader(ShotStore& shots, Flash& flash, Hooks hooks, QObject* parent)
    : QObject(parent), shots(shots), flash(flash), hooks(std::move(hooks))
{
    if (!this->hooks.sessions)
        this->hooks.sessions = [] { return SessionDetector::activeSessions(::getpid(), SSHConfig::path()); };
}

bool Uploader::isChosen(const Server& server, const QList<SSHSession>& sessions)
{
    if (!isActive(server))
        return false;
    if (!server.smartOnly)
        return true;
    return std::any_of(sessions.begin(), sessions.end(), [&](const SSHSession& session) {
        if (session.host.compare(server.host, Qt::CaseInsensitive) == 0)
            return true;
        return std::any_of(server.matchKeywords.begin(), server.matchKeywords.end(), [&](const QString& keyword) {
            return !keyword.isEmpty() && session.host.compare(keyword, Qt::CaseInsensitive) == 0;
        });
    });
}

QString Uploader::label(const Shot& shot) { return QStringLiteral("截图%1").arg(shot.n); }

void Uploader::notify(const QString& text, const QString& imagePath)
{
    if (imagePath.isEmpty()) {
        flash.show(QImage(), text);
        return;
    }
    QtConcurrent::run(ProcessRunner::pool(), [imagePath] {
        QImageReader reader(imagePath);
        return reader.read();
    }).then(this, [this, text](const QImage& image) { flash.show(image, text); });
}

QList<Server> Uploader::activeServers() const
{
    QList<Server> active;
    for (const Server& server : hooks.servers())
        if (isActive(server))
            active << server;
    return active;
}

void Uploader::upload(const QString& name, bool isUpdate)
{
    if (isUpdate) {
        ++generations[name];
        for (const ProcessRunner::CancelToken& token : running.take(name))
            token.cancel();
    }
    const QList<Server> servers = hooks.servers();
    const bool needSessions = std::any_of(servers.begin(), servers.end(), [this](const Server& s) {
        return s.smartOnly && (isActive(s) || (s.enabled && hooks.settingUp && hooks.settingUp(s)));
    });

    const quint64 generation = generations.value(name);
    auto choose = [this, name, servers, generation](const QList<SSHSession>& sessions) {
        const auto shot = shots.shot(name);
        if (!shot || generations.value(name) != generation)
            return; // gone, or an update came while the sessions were read
        QList<Server> chosen, skipped, awaiting;
        for (const Server& server : servers) {
            if (isChosen(server, sessions))
                chosen << server;
            else if (server.setup.keyInstalled)
                skipped << server;
            else if (hooks.settingUp && hooks.settingUp(server)) {
                Server ready = server;
                ready.setup.keyInstalled = true;
                if (isChosen(ready, sessions))
                    awaiting << server;
            }
        }
        startRound(name, generation, chosen, skipped, shot->n % remotePurgeEvery == 1, awaiting);
    };
    if (!needSessions) {
        choose({});
        return;
    }
    QtConcurrent::run(ProcessRunner::pool(), hooks.sessions).then(this, choose);
}

void Uploader::serversChanged()
{
    if (awaitingSetup.isEmpty())
        return;
    const QList<Server> servers = hooks.servers();
    const QDateTime now = Clock::instance().now();
    const QHash<QUuid, QStringList> waiting = std::exchange(awaitingSetup, {});
    for (const auto& [id, names] : waiting.asKeyValueRange()) {
        const auto found = std::find_if(servers.begin(), servers.end(), [&](const Server& s) { return s.id == id; });
        if (found == servers.end())
            continue; // removed with its records
        const Server& server = *found;
        if (!isActive(server) && server.enabled && hooks.settingUp && hooks.settingUp(server)) {
            awaitingSetup.insert(id, names);
            continue;
        }
        for (const QString& name : names) {
            const auto shot = shots.shot(name);
            const auto upload = shot ? shot->upload(id) : std::nullopt;
            if (!upload || upload->state != Upload::State::pending)
                continue; // sent meanwhile (a fill or a paste)
            if (isActive(server)) {
                startRound(name, generations.value(name), {server}, {}, false);
                continue;
            }
            const QString why = server.enabled ? QStringLiteral("接收器没装好，没有传") : QStringLiteral("同步已关，没有传");
            shots.setUpload(name, id, Upload { Upload::State::failed, std::nullopt, why, now });
            Log::write(label(*shot) + QStringLiteral(" 传到 ") + server.name + QStringLiteral(" 失败：") + why);
        }
    }
}

void Uploader::fillMissing(const QString& name)
{
    const auto shot = shots.shot(name);
    if (!shot)
        return;
    QList<Server> missing;
    for (const Server& server : activeServers())
        if (!isDone(*shot, server))
            missing << server;
    if (missing.isEmpty()) {
        Log::write(label(*shot) + QStringLiteral(" 已在所有开着的服务器上，不用补传"));
        Q_EMIT roundFinished(name);
        return;
    }
    startRound(name, generations.value(name), missing, {}, false);
}

QString Uploader::keptLocallyText(const QList<Server>& skipped)
{
    // Servers on in smart mode were passed over for want of an ssh session to them: say that, not "none on".
    QStringList waiting;
    for (const Server& server : skipped)
        if (server.smartOnly && server.enabled)
            waiting << server.name;
    if (waiting.isEmpty())
        return QStringLiteral(" 已存本机（没有开着的服务器）");
    return QStringLiteral(" 已存本机（没有开着连到 %1 的 ssh 会话，智能模式不传）").arg(waiting.join(QStringLiteral("、")));
}

void Uploader::startRound(const QString& name, quint64 generation, const QList<Server>& targets,
    const QList<Server>& skipped, bool purgeAfter, const QList<Server>& awaiting)
{
    const auto shot = shots.shot(name);
    if (!shot)
        return;
    const QDateTime now = Clock::instance().now();
    for (const Server& server : skipped)
        shots.setUpload(name, server.id, Upload { Upload::State::skipped, std::nullopt, std::nullopt, now });
    for (const Server& server : awaiting) {
        shots.setUpload(name, server.id, Upload { Upload::State::pending, std::nullopt, std::nullopt, now });
        awaitingSetup[server.id] << name;
        Log::write(label(*shot) + QStringLiteral(" 等 ") + server.name + QStringLiteral(" 的接收器装好再传"));
    }

    if (targets.isEmpty()) {
        if (!awaiting.isEmpty())
            return; // its round comes once the receiver is ready
        notify(label(*shot) + keptLocallyText(skipped), shot->localPath);
        Q_EMIT roundFinished(name);
        if (purgeAfter)
            purgeRemote();
        return;
    }

    auto round = std::make_shared<Round>();
    round->name = name;
    round->targets = targets;
    round->left = targets.size();
    round->purgeAfter = purgeAfter;
    for (const Server& server : targets) {
        shots.setUpload(name, server.id, Upload { Upload::State::uploading, std::nullopt, std::nullopt, now });
        deliver(*shot, server, generation, [this, round, server](bool ok, const QString& detail) {
            if (detail.isNull()) {
                round->superseded = true; // a newer version of the shot has its own round
            } else {
                if (const auto current = shots.shot(round->name))
                    record(*current, server, ok, detail);
                round->succeeded.insert(server.id, ok);
            }
            if (--round->left > 0)
                return;
            const auto shot = shots.shot(round->name);
            if (!round->superseded && shot) {
                QStringList names, marked;
                bool allOk = true, anyOk = false;
                for (const Server& target : round->targets) {
                    const bool targetOk = round->succeeded.value(target.id);
                    allOk = allOk && targetOk;
                    anyOk = anyOk || targetOk;
                    names << target.name;
                    marked << target.name + (targetOk ? QStringLiteral(" ✅") : QStringLiteral(" ❌"));
                }
                const QString summary = allOk ? QStringLiteral(" 已传 ✅ ") + names.join(QStringLiteral("、"))
                                        : anyOk ? QStringLiteral(" 已传 ") + marked.join(QStringLiteral("，"))
                                                : QStringLiteral(" 没传上 ❌ ") + names.join(QStringLiteral("、"));
                notify(label(*shot) + summary, shot->localPath);
            }
            if (!round->superseded)
                Q_EMIT roundFinished(round->name);
            if (round->purgeAfter && !round->superseded)
                purgeRemote();
        });
    }
}

// `done` gets (true, remote path), (false, message), or (false, null string) when an update superseded it.
void Uploader::send(const Shot& shot, const Server& server, int attempt, quint64 generation,
    std::function<void(bool ok, const QString& detail)> done)
{
    ProcessRunner::CancelToken token;
    running[shot.name] << token;
    ReceiverClient::put(server, shot.localPath, shot.name, token)
        .then(this, [this, shot, server, attempt, generation, done, token](const Outcome<QString>& outcome) {
            if (running.contains(shot.name)) {
                running[shot.name].removeOne(token);
                if (running[shot.name].isEmpty())
                    running.remove(shot.name);
            }
            if (generations.value(shot.name) != generation || token.isCancelled()) {
                done(false, QString());
                return;
            }
            if (outcome.ok()) {
                if (hooks.reached)
                    hooks.reached(server);
                done(true, outcome.value());
                return;
            }
            if (attempt > 1) {
                if (outcome.error().unreachable && hooks.unreachable)
                    hooks.unreachable(server, outcome.failure());
                done(false, outcome.failure());
                return;
            }
            QTimer::singleShot(retryDelayMs, this, [this, shot, server, generation, done] {
                if (generations.value(shot.name) != generation)
                    done(false, QString());
                else
                    send(shot, server, 2, generation, done);
            });
        });
}

void Uploader::record(const Shot& shot, const Server& server, bool ok, const QString& detail)
{
    const QDateTime now = Clock::instance().now();
    if (ok) {
        shots.setUpload(shot.name, server.id, Upload { Upload::State::done, detail, std::nullopt, now });
        Log::write(label(shot) + QStringLiteral(" 已传到 ") + server.name);
    } else {
        shots.setUpload(shot.name, server.id, Upload { Upload::State::failed, std::nullopt, detail, now });
        Log::write(label(shot) + QStringLiteral(" 传到 ") + server.name + QStringLiteral(" 失败：") + detail);
    }
}

void Uploader::deliver(const Shot& shot, const Server& server, quint64 generation,
    std::function<void(bool ok, const QString& detail)> done)
{
    const QString key = pendingKey(shot.name, server.id);
    ++pending[key].sends;
    send(shot, server, 1, generation, [this, key, name = shot.name, id = server.id, done](bool ok, const QString& detail) {
        done(ok, detail); // records the outcome
        Pending& entry = pending[key];
        --entry.sends;
        if (detail.isNull() && entry.sends > 0)
            return; // superseded: the newer put answers the waiting pastes
        const QList<std::function<void(const Upload&)>> waiting = std::exchange(entry.waiting, {});
        if (entry.sends == 0)
            pending.remove(key);
        Upload outcome { Upload::State::failed, std::nullopt, QStringLiteral("已取消"), Clock::instance().now() };
        if (!detail.isNull()) {
            const auto current = shots.shot(name);
            const auto recorded = current ? current->upload(id) : std::nullopt;
            outcome.error = QStringLiteral("截图已经不在了");
            if (recorded)
                outcome = *recorded;
        }
        for (const auto& wait : waiting)
            wait(outcome);
    });
}

void Uploader::uploadTo(const QString& name, const Server& server, std::function<void(const Upload&)> done)
{
    const auto shot = shots.shot(name);
    const QDateTime now = Clock::instance().now();
    if (!shot) {
        done(Upload { Upload::State::failed, std::nullopt, QStringLiteral("截图已经不在了"), now });
        return;
    }
    const QString key = pendingKey(name, server.id);
    if (!pending.contains(key)) {
        shots.setUpload(name, server.id, Upload { Upload::State::uploading, std::nullopt, std::nullopt, now });
        deliver(*shot, server, generations.value(name), [this, name, server](bool ok, const QString& detail) {
            if (detail.isNull())
                return; // a newer version of the shot took over; its round records the outcome
            if (const auto current = shots.shot(name))
                record(*current, server, ok, detail);
        });
    }
    pending[key].waiting << std::move(done);
}

void Uploader::fillServer(const Server& given)
{
    Server server = given;
    for (const Server& current : hooks.servers())
        if (current.id == given.id)
            server = current;
    if (!server.setup.keyInstalled) {
        Log::write(QStringLiteral("上传：") + server.name + QStringLiteral(" 还没装好接收器，不补传"));
        Q_EMIT serverFilled(server.id);
        return;
    }
    const QDate today = Clock::instance().now().date();
    QStringList names;
    for (const Shot& shot : shots.shots())
        if (shot.ts.toLocalTime().date() == today && !isDone(shot, server))
            names << shot.name;
    if (names.isEmpty()) {
        notify(QStringLiteral("今天的截图都已经在 ") + server.name + QStringLiteral(" 上了"));
        Q_EMIT serverFilled(server.id);
        return;
    }
    fillNext(server, names, 0, 0);
}

void Uploader::fillNext(const Server& server, QStringList names, int succeeded, int failed)
{
    if (names.isEmpty()) {
        notify(QStringLiteral("补传到 %1：成功 %2 张，失败 %3 张").arg(server.name).arg(succeeded).arg(failed));
        Q_EMIT serverFilled(server.id);
        return;
    }
    const auto shot = shots.shot(names.takeFirst());
    if (!shot) {
        fillNext(server, names, succeeded, failed); // deleted meanwhile
        return;
    }
    shots.setUpload(shot->name, server.id,
        Upload { Upload::State::uploading, std::nullopt, std::nullopt, Clock::instance().now() });
    deliver(*shot, server, generations.value(shot->name),
        [this, server, names, succeeded, failed, name = shot->name](bool ok, const QString& detail) {
            if (detail.isNull()) {
                fillNext(server, names, succeeded, failed);
                return;
            }
            if (const auto current = shots.shot(name))
                record(*current, server, ok, detail);
            fillNext(server, names, succeeded + (ok ? 1 : 0), failed + (ok ? 0 : 1));
        });
}

void Uploader::remove(const QStringList& names)
{
    if (names.isEmpty())
        return;
    for (const Server& server : activeServers()) {
        for (qsizetype i = 0; i < names.size(); i += rmBatch) {
            ReceiverClient::rm(server, names.mid(i, rmBatch)).then(this, [server](const Outcome<int>& outcome) {
                if (!outcome.ok())
                    Log::write(QStringLiteral("上传：在 ") + server.name + QStringLiteral(" 上删除截图失败：") + outcome.failure());
            });
        }
    }
}

void Uploader::purgeRemote()
{
    const Settings settings = hooks.settings ? hooks.settings() : Settings();
    for (const Server& server : activeServers()) {
        ReceiverClient::purge(server, settings.keepHours, settings.maxDirBytes)
            .then(this, [server](const Outcome<int>& outcome) {
                if (!outcome.ok())
                    Log::write(QStringLiteral("上传：清理 ") + server.name + QStringLiteral(" 上的旧截图失败：") + outcome.failure());
                else if (outcome.value() > 0)
                    Log::write(QStringLiteral("上传：清理了 %1 上的 %2 张旧截图").arg(server.name).arg(outcome.value()));
            });
    }
}
