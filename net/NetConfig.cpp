#include "NetConfig.h"

#include "state/Json.h"

#include <QFile>

NetConfig NetConfig::load(const QString& path, QString* error)
{
    NetConfig config;
    QFile file(path);
    if (!file.exists())
        return config;
    QJsonObject o;
    try {
        if (!file.open(QIODevice::ReadOnly))
            throw JsonError(file.errorString());
        o = Json::decodeObject(file.readAll());
    } catch (const JsonError& e) {
        *error = QStringLiteral("config.json 读不了，用默认设置：%1").arg(e.text());
        return config;
    }
    config.listenHost = Json::string(o, QStringLiteral("listen"), config.listenHost);
    config.listenPort = int(Json::integer(o, QStringLiteral("port"), config.listenPort));
    for (const QString& text : Json::stringList(o, QStringLiteral("advertise")))
        if (QHostAddress address(text); !address.isNull())
            config.advertise.append(address);
    const QString target = Json::string(o, QStringLiteral("sshTarget"));
    if (const int colon = target.lastIndexOf(QLatin1Char(':')); colon > 0) {
        config.sshHost = target.left(colon).remove(QLatin1Char('[')).remove(QLatin1Char(']'));
        config.sshPort = target.mid(colon + 1).toInt();
    }
    config.caFile = Json::string(o, QStringLiteral("caFile"));
    config.syncMs = int(Json::integer(o, QStringLiteral("syncMs"), config.syncMs));
    config.pingMs = int(Json::integer(o, QStringLiteral("pingMs"), config.pingMs));
    config.relayAfterMs = int(Json::integer(o, QStringLiteral("relayAfterMs"), config.relayAfterMs));
    config.maxBackoffMs = int(Json::integer(o, QStringLiteral("maxBackoffMs"), config.maxBackoffMs));
    config.directProbeMs = int(Json::integer(o, QStringLiteral("directProbeMs"), config.directProbeMs));
    config.maxDirectProbeMs = int(Json::integer(o, QStringLiteral("maxDirectProbeMs"), config.maxDirectProbeMs));
    config.tunnelResumeMs = int(Json::integer(o, QStringLiteral("tunnelResumeMs"), config.tunnelResumeMs));
    config.strangerSyncMs = int(Json::integer(o, QStringLiteral("strangerSyncMs"), config.strangerSyncMs));
    return config;
}
