#include "ServeOptions.h"

#include <map>

std::variant<ServeOptions, QString> ServeOptions::parse(const QStringList& args)
{
    ServeOptions o;
    const std::map<QString, QString*> valued{
        {QStringLiteral("--state"), &o.state},          {QStringLiteral("--server"), &o.server},
        {QStringLiteral("--fallback-server"), &o.fallbackServer},
        {QStringLiteral("--token-file"), &o.tokenFile}, {QStringLiteral("--name"), &o.name},
        {QStringLiteral("--ssh-user"), &o.sshUser},     {QStringLiteral("--pubkey-file"), &o.pubkeyFile},
        {QStringLiteral("--hostkey-file"), &o.hostkeyFile}, {QStringLiteral("--app-build"), &o.appBuild},
    };
    QString parent;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg == QLatin1String("--allow-inbound")) {
            o.allowInbound = true;
            continue;
        }
        QString* target = nullptr;
        if (arg == QLatin1String("--parent-pid"))
            target = &parent;
        else if (auto it = valued.find(arg); it != valued.end())
            target = it->second;
        if (!target)
            return QStringLiteral("不认识的选项 %1").arg(arg);
        if (i + 1 >= args.size())
            return QStringLiteral("选项 %1 缺少值").arg(arg);
        *target = args.at(++i);
    }
    if (o.state.isEmpty() || o.server.isEmpty() || o.tokenFile.isEmpty())
        return QStringLiteral("需要 --state、--server 和 --token-file");
    if (!parent.isEmpty()) {
        bool ok = false;
        o.parentPid = parent.toLongLong(&ok);
        if (!ok || o.parentPid <= 0)
            return QStringLiteral("--parent-pid 要是进程号");
    }
    return o;
}

qint64 ServeOptions::appBuildNumber() const
{
    bool ok = false;
    const qint64 n = appBuild.trimmed().toLongLong(&ok);
    return ok ? n : 0;
}
