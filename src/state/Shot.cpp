#include "state/Shot.h"

#include "state/Json.h"
#include "state/Log.h"

#include <QFileInfo>

QString Upload::stateName(State state)
{
    switch (state) {
    case State::pending: return QStringLiteral("pending");
    case State::uploading: return QStringLiteral("uploading");
    case State::done: return QStringLiteral("done");
    case State::failed: return QStringLiteral("failed");
    case State::skipped: return QStringLiteral("skipped");
    }
    return QStringLiteral("pending");
}

std::optional<Upload::State> Upload::stateFromName(const QString& name)
{
    for (State s : {State::pending, State::uploading, State::done, State::failed, State::skipped})
        if (stateName(s) == name)
            return s;
    return std::nullopt;
}

Upload Upload::fromJson(const QJsonObject& o)
{
    Upload u;
    const QString state = Json::requireString(o, QStringLiteral("state"));
    const auto parsed = stateFromName(state);
    if (!parsed)
        throw JsonError(QStringLiteral("未知的上传状态 %1").arg(state));
    u.state = *parsed;
    u.remotePath = Json::optString(o, QStringLiteral("remotePath"));
    u.error = Json::optString(o, QStringLiteral("error"));
    u.at = Json::optDate(o, QStringLiteral("at"));
    return u;
}

QJsonObject Upload::toJson() const
{
    QJsonObject o{{QStringLiteral("state"), stateName(state)}};
    Json::put(o, QStringLiteral("remotePath"), remotePath);
    Json::put(o, QStringLiteral("error"), error);
    Json::put(o, QStringLiteral("at"), at);
    return o;
}

std::optional<Upload> Shot::upload(const QUuid& serverId) const
{
    const auto it = uploads.constFind(Json::uuidText(serverId));
    if (it == uploads.constEnd())
        return std::nullopt;
    return *it;
}

Shot Shot::fromJson(const QJsonObject& o)
{
    Shot s;
    s.n = Json::integer(o, QStringLiteral("n"), 0);
    s.w = int(Json::integer(o, QStringLiteral("w"), 0));
    s.h = int(Json::integer(o, QStringLiteral("h"), 0));
    s.localPath = Json::string(o, QStringLiteral("localPath"));
    // Without its time a shot would look decades old and be purged with its file at the next clean-up:
    // the file's own time is the best stand-in.
    s.ts = Json::optDate(o, QStringLiteral("ts")).value_or(QDateTime());
    if (!s.ts.isValid()) {
        const QFileInfo file(s.localPath);
        s.ts = file.exists() ? QDateTime::fromSecsSinceEpoch(file.lastModified().toSecsSinceEpoch(), Qt::UTC)
                             : QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    }
    s.name = Json::string(o, QStringLiteral("name"));
    s.hash = Json::string(o, QStringLiteral("hash"));
    s.fingerprint = Json::string(o, QStringLiteral("fingerprint"));
    s.pasted = int(Json::integer(o, QStringLiteral("pasted"), 0));
    s.updated = int(Json::integer(o, QStringLiteral("updated"), 0));
    const QJsonObject uploads = o.value(QStringLiteral("uploads")).toObject();
    for (auto it = uploads.begin(); it != uploads.end(); ++it) {
        const auto id = Json::parseUuid(it.key());
        try {
            if (!id)
                throw JsonError(QStringLiteral("目的地编号不对：%1").arg(it.key()));
            s.uploads.insert(Json::uuidText(*id), Upload::fromJson(it.value().toObject()));
        } catch (const JsonError& e) {
            Log::write(QStringLiteral("状态：%1 丢弃一条坏的上传记录（%2）").arg(s.name, e.text()));
        }
    }
    return s;
}

QJsonObject Shot::toJson() const
{
    QJsonObject up;
    for (auto it = uploads.begin(); it != uploads.end(); ++it)
        up.insert(it.key(), it.value().toJson());
    return QJsonObject{{QStringLiteral("n"), double(n)},
                       {QStringLiteral("ts"), Json::dateText(ts)},
                       {QStringLiteral("w"), w},
                       {QStringLiteral("h"), h},
                       {QStringLiteral("localPath"), localPath},
                       {QStringLiteral("name"), name},
                       {QStringLiteral("hash"), hash},
                       {QStringLiteral("fingerprint"), fingerprint},
                       {QStringLiteral("pasted"), pasted},
                       {QStringLiteral("updated"), updated},
                       {QStringLiteral("uploads"), up}};
}
