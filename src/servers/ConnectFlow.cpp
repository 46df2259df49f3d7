#include "servers/ConnectFlow.h"

#include "delivery/SSHConfig.h"
#include "delivery/SSHKey.h"
#include "state/Clock.h"
#include "servers/EmbeddedScripts.h"
#include "servers/InstallScript.h"
#include "servers/LoginProbe.h"
#include "servers/ScriptOutput.h"
#include "servers/ScriptRunner.h"
#include "servers/SshLookup.h"

#include <QRegularExpression>

namespace {

constexpr double scriptTimeout = 90;
const QString keyRefusedByReceiver = QStringLiteral("钥匙被拒：点「重新连接」重新装接收器");

struct Attempt {
    const ConnectFlow::Hooks& hooks;
    const ProcessRunner::CancelToken& cancel;
    std::optional<QString> password;
    Server server;
    ConnectFlow::Connected connected;
    std::optional<Failure> failure;

    bool fail(Failure why)
    {
        failure = std::move(why);
        return false;
    }
    bool fail(const QString& message) { return fail(Failure{message}); }

    void stage(ConnectFlow::Stage value)
    {
        if (hooks.stage)
            hooks.stage(value);
    }

    // The user's typed alias resolved through their own ssh setup, so the daily channel (which does not
    // read ~/.ssh/config) reaches the same machine; the alias stays as a keyword.
    std::optional<QString> resolve(const std::optional<QString>& user)
    {
        Server& s = server;
        const auto resolved = SshLookup::run(s.host, s.port == 22 ? std::nullopt : std::optional<int>(s.port), user);
        if (!resolved)
            return std::nullopt;
        if (SSHConfig::isValidHost(resolved->hostname) && resolved->hostname.compare(s.host, Qt::CaseInsensitive) != 0) {
            if (!s.matchKeywords.contains(s.host))
                s.matchKeywords << s.host;
            s.host = resolved->hostname;
        }
        if (s.port == 22)
            s.port = resolved->port;
        if (!s.proxyJump && resolved->proxyJump)
            s.proxyJump = SSHConfig::canonicalJump(*resolved->proxyJump);
        return resolved->user;
    }

    bool probe()
    {
        stage(ConnectFlow::Stage::probing);
        const std::optional<QString> given = server.user;
        // A name the user's ssh configuration gives for the host is the only one tried, as a typed one is.
        const std::optional<QString> named = given ? given
            : SshLookup::configuredUser(server.host, server.port == 22 ? std::nullopt : std::optional<int>(server.port));
        const auto configured = resolve(given);
        const LoginProbe::Result probe = LoginProbe::run(server,
            LoginProbe::candidates(named, configured, LoginProbe::localLoginName()), cancel);
        server.setup.lastProbe = probe.record;
        if (!probe.login.ok())
            return fail(probe.login.error());
        connected.user = probe.login.value().user;
        connected.hostname = probe.login.value().hostname;
        return true;
    }

    bool installSkippable() const
    {
        const SetupState& setup = server.setup;
        return setup.keyInstalled && setup.remoteDirAbsolute
            && setup.receiverVersion == ConnectFlow::bundledReceiverVersion();
    }

    bool install()
    {
        stage(ConnectFlow::Stage::installing);
        Server& s = server;
        Outcome<QString> script = Outcome<QString>::failure(QString());
        if (s.isDevice()) {
            script = InstallScript::renderDevice(s.remoteDir, EmbeddedScripts::load(QStringLiteral("install-device.sh")),
                EmbeddedScripts::load(QStringLiteral("tarnel-receiver")));
        } else {
            const Outcome<QString> key = SSHKey::ensure(SSHKey::defaultPath(), SSHKey::comment(SSHKey::machineName()));
            if (!key.ok())
                return fail(key.error());
            // The key keeps the comment it was made with, also after the machine was renamed.
            const QString comment = key.value().section(QLatin1Char(' '), 2);
            script = InstallScript::render({s.remoteDir, key.value(), comment},
                EmbeddedScripts::load(QStringLiteral("install.sh")), EmbeddedScripts::load(QStringLiteral("tarnel-receiver")));
        }
        if (!script.ok())
            return fail(script.error());
        const ScriptRunner::Run run = ScriptRunner::run(s, connected.user, script.value(), password, scriptTimeout, cancel);
        if (run.result.cancelled)
            return fail(QStringLiteral("已取消"));
        if (run.unsafe)
            return fail(QStringLiteral("地址不对：") + s.host.left(60));
        if (run.refused) {
            return fail(password ? Failure::needingPassword(QStringLiteral("密码不对（或这台不允许密码登录），再输一次"))
                                 : Failure::needingLoginName(QStringLiteral("免密登录被拒：填上用户名和密码再连"), true));
        }
        const QString output = run.result.stdout;
        if (const auto hostname = ScriptOutput::hostname(output)) {
            connected.hostname = hostname;
            s.setup.hostname = hostname; // shown again after a restart, when the key alone reconnects
        }
        if (const auto installed = InstallScript::parse(output)) {
            if (!installed->ok())
                return fail(installed->error());
            s.setup.keyInstalled = true;
            s.setup.receiverVersion = installed->value().receiverVersion;
            s.setup.remoteDirAbsolute = installed->value().base;
            return true;
        }
        if (run.result.timedOut)
            return fail(QStringLiteral("连不上 ") + s.host + QLatin1Char(':') + QString::number(s.port) + QStringLiteral("（超时）"));
        if (run.result.status == 255 && !password)
            return fail(LoginProbe::stopMessage(run.result, s.host, s.port));
        const QString line = ScriptRunner::firstLine(run.result);
        return fail(QStringLiteral("服务器端安装没有返回结果") + (line.isEmpty() ? QString() : QStringLiteral("（") + line + QStringLiteral("）")));
    }

    void addDefaultKeywords()
    {
        Server& s = server;
        QStringList wanted {s.host};
        if (!connected.user.isEmpty())
            wanted << connected.user + QLatin1Char('@');
        if (connected.hostname)
            wanted << *connected.hostname;
        for (const QString& keyword : wanted) {
            if (!keyword.isEmpty() && !s.matchKeywords.contains(keyword, Qt::CaseInsensitive))
                s.matchKeywords << keyword;
        }
    }

    bool writeConfig()
    {
        if (!hooks.writeConfig)
            return true;
        if (const Outcome<> written = hooks.writeConfig(server); !written.ok())
            return fail(QStringLiteral("写 ssh_config 失败：") + written.failure());
        return true;
    }

    Outcome<ReceiverClient::Ping> ping()
    {
        stage(ConnectFlow::Stage::checking);
        return hooks.ping ? hooks.ping(server) : ReceiverClient::ping(server).result();
    }

    bool check(bool installed, bool probeSkipped)
    {
        Outcome<ReceiverClient::Ping> answer = ping();
        if (!answer.ok() && !installed && answer.failure() == keyRefusedByReceiver) {
            // The server forgot our key line (or it was revoked elsewhere): find a login and put it back once.
            server.setup.keyInstalled = false;
            if (probeSkipped && !probe())
                return false;
            if (!install() || !writeConfig())
                return false;
            answer = ping();
        }
        if (!answer.ok())
            return fail(answer.error());
        server.setup.lastPing = Clock::instance().now();
        return true;
    }

    bool connect(const ConnectFlow::Request& request)
    {
        Server& s = server;
        bool probeSkipped = false;
        if (s.isDevice()) {
            connected.user = s.user.value_or(QString());
        } else if (password) {
            connected.user = request.user.value_or(s.user.value_or(QString()));
            if (connected.user.isEmpty())
                return fail(Failure::needingLoginName(QStringLiteral("先填上用户名")));
        } else if (keyReconnects()) {
            // Our key is on the server (perhaps put there with a password the user's own keys lack): the
            // receiver answering is the test; a probe would only find the user's own keys refused.
            connected.user = *s.user;
            connected.hostname = s.setup.hostname;
            if (!connected.hostname && s.setup.lastProbe && s.setup.lastProbe->ok && s.setup.lastProbe->user == connected.user)
                connected.hostname = s.setup.lastProbe->hostname;
            probeSkipped = true;
        } else if (!probe()) {
            return false;
        }
        if (!s.isDevice())
            s.user = connected.user;
        if (const auto other = hooks.sameAccount ? hooks.sameAccount(s) : std::nullopt) {
            // The key line is the other entry's: this one neither puts it anew nor takes shots.
            s.setup.keyInstalled = false;
            return fail(QStringLiteral("这台服务器已经在列表里（%1，用户 %2）：同一个账号不用再加，把这条移除就好")
                            .arg(other->name, connected.user));
        }
        const bool installing = !installSkippable();
        if (installing && !install())
            return false;
        addDefaultKeywords();
        return writeConfig() && check(installing, probeSkipped);
    }

    bool keyReconnects() const { return installSkippable() && server.user && !server.user->isEmpty(); }
};

} // namespace

QString ConnectFlow::stageText(Stage stage)
{
    switch (stage) {
    case Stage::probing:
        return QStringLiteral("正在找能登录的用户名");
    case Stage::installing:
        return QStringLiteral("正在准备服务器端");
    case Stage::checking:
        return QStringLiteral("正在自检");
    }
    return QString();
}

qint64 ConnectFlow::bundledReceiverVersion()
{
    static const qint64 version = [] {
        static const QRegularExpression line(QStringLiteral("^TARNEL_RECEIVER_VERSION=([0-9]+)"),
            QRegularExpression::MultilineOption);
        const auto text = EmbeddedScripts::load(QStringLiteral("tarnel-receiver"));
        const auto match = text ? line.match(*text) : QRegularExpressionMatch();
        return match.hasMatch() ? match.captured(1).toLongLong() : qint64(0);
    }();
    return version;
}

ConnectFlow::Result ConnectFlow::run(const Request& request, const Hooks& hooks, const ProcessRunner::CancelToken& cancel)
{
    Attempt attempt {hooks, cancel, request.password, request.server, {}, std::nullopt};
    if (request.user && !request.user->isEmpty())
        attempt.server.user = request.user;
    Result result;
    if (attempt.connect(request))
        result.outcome = Outcome<Connected>::success(attempt.connected);
    else
        result.outcome = Outcome<Connected>::failure(attempt.failure.value_or(Failure{}));
    result.server = attempt.server;
    result.cancelled = cancel.isCancelled();
    return result;
}
