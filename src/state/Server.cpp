#include "state/Server.h"

#include "state/Json.h"
#include "state/Log.h"

ProbeRecord ProbeRecord::fromJson(const QJsonObject& o)
{
    ProbeRecord r;
    r.at = Json::requireDate(o, QStringLiteral("at"));
    r.ok = Json::requireBool(o, QStringLiteral("ok"));
    r.elapsed = Json::requireNumber(o, QStringLiteral("elapsed"));
    r.user = Json::optString(o, QStringLiteral("user"));
    r.hostname = Json::optString(o, QStringLiteral("hostname"));
    r.error = Json::optString(o, QStringLiteral("error"));
    return r;
}

QJsonObject ProbeRecord::toJson() const
{
    QJsonObject o{{QStringLiteral("at"), Json::dateText(at)},
                  {QStringLiteral("ok"), ok},
                  {QStringLiteral("elapsed"), elapsed}};
    Json::put(o, QStringLiteral("user"), user);
    Json::put(o, QStringLiteral("hostname"), hostname);
    Json::put(o, QStringLiteral("error"), error);
    return o;
}

SetupState SetupState::fromJson(const QJsonObject& o)
{
    SetupState s;
    s.receiverVersion = Json::optInteger(o, QStringLiteral("receiverVersion"));
    s.keyInstalled = Json::boolean(o, QStringLiteral("keyInstalled"), false);
    s.remoteDirAbsolute = Json::optString(o, QStringLiteral("remoteDirAbsolute"));
    s.ruleBlocks = Json::stringList(o, QStringLiteral("ruleBlocks"));
    s.ruleBlocks.sort();
    s.lastPing = Json::optDate(o, QStringLiteral("lastPing"));
    s.hostname = Json::optString(o, QStringLiteral("hostname"));
    if (Json::has(o, QStringLiteral("lastProbe"))) {
        try {
            s.lastProbe = ProbeRecord::fromJson(o.value(QStringLiteral("lastProbe")).toObject());
        } catch (const JsonError& e) {
            Log::write(QStringLiteral("状态：丢弃一条坏的探测记录（%1）").arg(e.text()));
        }
    }
    return s;
}

QJsonObject SetupState::toJson() const
{
    QJsonObject o{{QStringLiteral("keyInstalled"), keyInstalled},
                  {QStringLiteral("ruleBlocks"), Json::array(ruleBlocks)}};
    Json::put(o, QStringLiteral("receiverVersion"), receiverVersion);
    Json::put(o, QStringLiteral("remoteDirAbsolute"), remoteDirAbsolute);
    Json::put(o, QStringLiteral("lastPing"), lastPing);
    Json::put(o, QStringLiteral("hostname"), hostname);
    if (lastProbe)
        o.insert(QStringLiteral("lastProbe"), lastProbe->toJson());
    return o;
}

QString Server::idText() const { return Json::uuidText(id); }

Server Server::fromJson(const QJsonObject& o)
{
    Server s;
    if (auto id = Json::optUuid(o, QStringLiteral("id")))
        s.id = *id;
    s.host = Json::string(o, QStringLiteral("host"));
    s.name = Json::string(o, QStringLiteral("name"));
    if (s.name.isEmpty())
        s.name = s.host;
    s.port = int(Json::integer(o, QStringLiteral("port"), 22));
    if (s.port < 1 || s.port > 65535)
        s.port = 22;
    s.user = Json::optString(o, QStringLiteral("user"));
    s.proxyJump = Json::optString(o, QStringLiteral("proxyJump"));
    s.enabled = Json::boolean(o, QStringLiteral("enabled"), true);
    s.matchKeywords = Json::stringList(o, QStringLiteral("matchKeywords"));
    s.smartOnly = Json::boolean(o, QStringLiteral("smartOnly"), false);
    s.remoteDir = Json::string(o, QStringLiteral("remoteDir"), s.remoteDir);
    s.setup = SetupState::fromJson(o.value(QStringLiteral("setup")).toObject());
    s.addedAt = Json::optDate(o, QStringLiteral("addedAt")).value_or(s.addedAt);
    s.deviceID = Json::optString(o, QStringLiteral("deviceID"));
    s.deviceAlias = Json::optString(o, QStringLiteral("deviceAlias"));
    return s;
}

QJsonObject Server::toJson() const
{
    QJsonObject o{{QStringLiteral("id"), idText()},
                  {QStringLiteral("name"), name},
                  {QStringLiteral("host"), host},
                  {QStringLiteral("port"), port},
                  {QStringLiteral("enabled"), enabled},
                  {QStringLiteral("matchKeywords"), Json::array(matchKeywords)},
                  {QStringLiteral("smartOnly"), smartOnly},
                  {QStringLiteral("remoteDir"), remoteDir},
                  {QStringLiteral("setup"), setup.toJson()},
                  {QStringLiteral("addedAt"), Json::dateText(addedAt)}};
    Json::put(o, QStringLiteral("user"), user);
    Json::put(o, QStringLiteral("proxyJump"), proxyJump);
    Json::put(o, QStringLiteral("deviceID"), deviceID);
    Json::put(o, QStringLiteral("deviceAlias"), deviceAlias);
    return o;
}
