#include "servers/RemoteScripts.h"

#include "delivery/SSHKey.h"
#include "servers/EmbeddedScripts.h"
#include "servers/InstallScript.h"
#include "servers/RulesScript.h"
#include "servers/ServerList.h"
#include "servers/UninstallScript.h"

#include <QtConcurrent/QtConcurrentRun>

namespace {

const QString gone = QStringLiteral("这台服务器已经不在列表里了");
const QString noUser = QStringLiteral("还没有登录名，无法吊销");

Failure refused(bool withPassword)
{
    return Failure::needingPassword(withPassword ? QStringLiteral("密码不对（或这台不允许密码登录），再输一次")
                                                 : QStringLiteral("免密登录被拒：输一次密码再试"));
}

QString revokedText(const UninstallScript::Result& result)
{
    return QStringLiteral("已吊销 ") + QString::number(result.removedLines) + QStringLiteral(" 行钥匙")
        + (result.purged ? QStringLiteral("，服务器上的目录已清掉") : QString());
}

Outcome<QString> uninstallScript(const Server& s, bool purge)
{
    const auto publicLine = SSHKey::publicLine(SSHKey::defaultPath());
    return UninstallScript::render(s.remoteDir, SSHKey::comment(SSHKey::machineName()),
        publicLine ? InstallScript::keyData(*publicLine) : QString(), purge,
        EmbeddedScripts::load(QStringLiteral("uninstall.sh")), !s.isDevice());
}

// What an uninstall run did; a refused login asks for a password except on a linked machine, whose keys
// belong to the device link.
Outcome<UninstallScript::Result> readUninstall(const Server& s, const ScriptRunner::Run& run, bool withPassword)
{
    if (run.refused) {
        Failure why = refused(withPassword);
        why.needsPassword = !s.isDevice();
        return Outcome<UninstallScript::Result>::failure(why);
    }
    if (run.unsafe)
        return Outcome<UninstallScript::Result>::failure(QStringLiteral("地址不对"));
    return UninstallScript::parse(run.result.stdout);
}

} // namespace

RemoteScripts::RemoteScripts(ServerList& list, QObject* parent) : QObject(parent), list(list) {}

RemoteScripts::~RemoteScripts()
{
    cancelAll();
    waitForAll();
}

void RemoteScripts::cancelAll() const { running.cancelAll(); }

void RemoteScripts::waitForAll() const { running.waitForAll(); }

void RemoteScripts::later(const Done& done, const Outcome<QString>& outcome)
{
    // Like every other outcome, a refusal reaches the caller on a later turn of the event loop.
    if (done)
        QMetaObject::invokeMethod(this, [done, outcome] { done(outcome); }, Qt::QueuedConnection);
}

std::optional<Server> RemoteScripts::target(const QUuid& id, const QString& noUserText, const Done& done)
{
    const auto found = list.find(id);
    if (!found)
        later(done, Outcome<QString>::failure(gone));
    else if (!found->user || found->user->isEmpty())
        later(done, Outcome<QString>::failure(noUserText));
    else
        return found;
    return std::nullopt;
}

QFuture<ScriptRunner::Run> RemoteScripts::run(const Server& s, const QString& script,
    const std::optional<QString>& password, ScriptRunner::Route route)
{
    const ProcessRunner::CancelToken cancel;
    QFuture<ScriptRunner::Run> work = QtConcurrent::run(ProcessRunner::pool(), [s, script, password, cancel, route] {
        return ScriptRunner::run(s, *s.user, script, password, timeoutSeconds, cancel, route);
    });
    running.add(QFuture<void>(work), cancel);
    return work;
}

void RemoteScripts::applyRules(const QUuid& id, const QStringList& wanted, const std::optional<QString>& password,
    Done done)
{
    const auto server = target(id, QStringLiteral("还没有登录名，无法写规则块"), done);
    if (!server)
        return;
    const Outcome<QString> script = RulesScript::render(wanted, RulesScript::shotsDir(*server),
        EmbeddedScripts::load(QStringLiteral("rules.sh")));
    if (!script.ok())
        return later(done, script);
    const bool withPassword = password.has_value();
    run(*server, script.value(), password).then(this, [this, id, withPassword, done](const ScriptRunner::Run& run) {
        const auto outcome = [&] {
            if (run.refused)
                return Outcome<QString>::failure(refused(withPassword));
            const auto keys = RulesScript::parse(run.result.stdout);
            if (!keys)
                return Outcome<QString>::failure(QStringLiteral("规则块没写成：") + ScriptRunner::firstLine(run.result));
            list.modify(id, [&](Server& s) { s.setup.ruleBlocks = *keys; });
            return Outcome<QString>::success(keys->isEmpty() ? QStringLiteral("规则块已全部卸载")
                                                             : QStringLiteral("规则块已写入：") + keys->join(QStringLiteral("、")));
        }();
        if (done)
            done(outcome);
    });
}

void RemoteScripts::revokeKey(const QUuid& id, const std::optional<QString>& password, Done done)
{
    const auto server = target(id, noUser, done);
    if (!server)
        return;
    const Outcome<QString> script = uninstallScript(*server, false);
    if (!script.ok())
        return later(done, script);
    const bool withPassword = password.has_value();
    run(*server, script.value(), password).then(this, [this, id, server = *server, withPassword, done](const ScriptRunner::Run& run) {
        const auto revoked = readUninstall(server, run, withPassword);
        if (revoked.ok())
            list.modify(id, [](Server& s) { s.setup.keyInstalled = false; });
        if (done)
            done(revoked.ok() ? Outcome<QString>::success(QStringLiteral("钥匙已吊销，再点「连接」可重新装"))
                              : Outcome<QString>::failure(revoked.error()));
    });
}

void RemoteScripts::uninstall(const Server& server, const std::optional<QString>& password, bool purge, Done done)
{
    if (!server.user || server.user->isEmpty())
        return later(done, Outcome<QString>::failure(noUser));
    const Outcome<QString> script = uninstallScript(server, purge);
    if (!script.ok())
        return later(done, script);
    const bool withPassword = password.has_value();
    // The entry is off the list already, and with it the linked machine's block in the generated config.
    run(server, script.value(), password, ScriptRunner::Route::ownOptions).then(this, [server, withPassword, done](const ScriptRunner::Run& run) {
        const auto removed = readUninstall(server, run, withPassword);
        if (done)
            done(removed.ok() ? Outcome<QString>::success(revokedText(removed.value()))
                              : Outcome<QString>::failure(removed.error()));
    });
}
