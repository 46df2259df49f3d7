#include "link/LinkManager.h"

#include "account/QXServer.h"
#include "delivery/SSHKey.h"
#include "link/DeviceName.h"
#include "link/LinkSSHConfig.h"
#include "link/RemoteLogin.h"
#include "link/TerminalLauncher.h"
#include "link/UnixSocket.h"
#include "platform/NetworkMonitor.h"
#include "state/AppInfo.h"
#include "state/AtomicFile.h"
#include "state/Clock.h"
#include "state/Log.h"
#include "state/Paths.h"
#include "state/Text.h"

#include <QCollator>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QtConcurrent/QtConcurrentRun>

#include <fcntl.h>
#include <sys/stat.h>
#include <pwd.h>
#include <unistd.h>

namespace {

const QJsonObject quitRequest{{QStringLiteral("cmd"), QStringLiteral("quit")}};

QString loginName()
{
    if (const passwd* entry = ::getpwuid(::geteuid()))
        return QString::fromLocal8Bit(entry->pw_name);
    return qEnvironmentVariable("USER");
}

// The `error` member of a reply: its text, or a stand-in when it carries none.
QString errorText(const QJsonObject& reply)
{
    const QString text = reply.value(QStringLiteral("error")).toString();
    return text.isEmpty() ? QStringLiteral("tarnel-net 报告了错误") : text;
}

// The status exchange of a poll. An error reply or an object that is no status document is a failure.
Outcome<NodeStatus> fetchStatus(const QString& path)
{
    const auto line = UnixSocket::requestLine(path, QByteArrayLiteral(R"({"cmd":"status"})"), 5.0);
    if (!line.ok())
        return Outcome<NodeStatus>::failure(line.failure());
    const QJsonDocument reply = QJsonDocument::fromJson(line.value());
    if (!reply.isObject())
        return Outcome<NodeStatus>::failure(QStringLiteral("tarnel-net 的回复不是 JSON"));
    if (reply.object().contains(QStringLiteral("error")))
        return Outcome<NodeStatus>::failure(errorText(reply.object()));
    if (!NodeStatus::isDocument(reply.object()))
        return Outcome<NodeStatus>::failure(QStringLiteral("tarnel-net 的回复里没有设备状态"));
    return Outcome<NodeStatus>::success(NodeStatus::decode(reply.object()));
}

// A text file as UTF-8; empty when it cannot be read.
QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Non-empty lines, split at every kind of line break.
QStringList textLines(const QString& text)
{
    static const QRegularExpression breaks(QStringLiteral("[\\n\\r\\x{0B}\\x{0C}\\x{85}\\x{2028}\\x{2029}]"));
    return text.split(breaks, Qt::SkipEmptyParts);
}

QStringList blankWords(const QString& text) { return text.split(QLatin1Char(' '), Qt::SkipEmptyParts); }

// Without spaces of any kind and tabs at both ends.
QString trimSpaces(const QString& text)
{
    const auto space = [](QChar c) { return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space; };
    qsizetype begin = 0, end = text.size();
    while (begin < end && space(text[begin]))
        ++begin;
    while (end > begin && space(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

// A peer's name for a log line: control characters shown as blanks, at most 64 characters.
QString loggable(const PeerDevice& peer)
{
    QString name = peer.shownName().left(64);
    for (QChar& c : name)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    return name;
}

} // namespace

QString LinkManager::Helper::label() const
{
    switch (kind) {
    case Kind::unavailable: return QStringLiteral("设备互联不可用：") + text;
    case Kind::running: return QStringLiteral("tarnel-net 运行中（pid %1）").arg(pid);
    case Kind::failed: return text;
    case Kind::stopped: return QStringLiteral("设备互联未启动");
    }
    return {};
}

LinkManager::LinkManager(SleepInhibitor& inhibitor, NetworkMonitor& network, QObject* parent)
    : QObject(parent), network(network), guard(inhibitor)
{
    programPath = [] { return Paths::netBinary(); };
    sshDirectory = QDir::homePath() + QStringLiteral("/.ssh");
    queue.setMaxThreadCount(1);
    for (QTimer* timer : {&firstPollTimer, &relaunchTimer, &netchangeTimer})
        timer->setSingleShot(true);
    connect(&pollTimer, &QTimer::timeout, this, &LinkManager::poll);
    connect(&firstPollTimer, &QTimer::timeout, this, &LinkManager::poll);
    connect(&relaunchTimer, &QTimer::timeout, this, &LinkManager::relaunch);
    connect(&netchangeTimer, &QTimer::timeout, this, [this] {
        Log::write(QStringLiteral("设备互联：网络变化，通知 tarnel-net 重新收集候选"));
        netChanged();
    });
    connect(&network, &NetworkMonitor::pathChanged, this, &LinkManager::pathChanged);
    checks.configPath = [] { return devicesConfigPath(); };
    checks.saveWanted = [this](const QStringList& ids) { saveWanted(ids); };
    checks.onOpened = [this](const PeerDevice& peer) { onTunnelOpened(peer); };
    checks.linkNow = [this](const QString& id) {
        return QtConcurrent::run(&queue, [socket = socketPath(), id]() -> std::optional<LinkStatus> {
            const Outcome<NodeStatus> fetched = fetchStatus(socket);
            if (fetched.ok())
                for (const PeerDevice& peer : fetched.value().peers)
                    if (peer.id == id)
                        return peer.link;
            return std::nullopt;
        });
    };
    connect(&checks, &TunnelChecks::changed, this, &LinkManager::changed);
}

LinkManager::~LinkManager() { shutdown(); }

QString LinkManager::socketPath() { return Paths::netDirectory() + QStringLiteral("/net.sock"); }
QString LinkManager::tokenPath() { return Paths::netDirectory() + QStringLiteral("/token"); }
QString LinkManager::logPath() { return Paths::logsDirectory() + QStringLiteral("/tarnel-net.log"); }
QString LinkManager::devicesConfigPath() { return Paths::inData(QStringLiteral("ssh_config_devices")); }
QString LinkManager::devicesKnownHostsPath() { return Paths::inData(QStringLiteral("known_hosts_devices")); }

QString LinkManager::machineName()
{
    QFile info(QStringLiteral("/etc/machine-info"));
    if (info.open(QIODevice::ReadOnly)) {
        for (const QByteArray& raw : info.readAll().split('\n')) {
            const QByteArray line = raw.trimmed();
            if (!line.startsWith("PRETTY_HOSTNAME="))
                continue;
            QString value = QString::fromUtf8(line.mid(int(qstrlen("PRETTY_HOSTNAME=")))).trimmed();
            if (value.size() >= 2 && (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\'')) &&
                value.back() == value.front())
                value = value.mid(1, value.size() - 2);
            if (!value.isEmpty())
                return value;
        }
    }
    return QHostInfo::localHostName();
}

int LinkManager::onlineCount() const
{
    return int(std::count_if(peerList.begin(), peerList.end(), [](const PeerDevice& p) { return p.online; }));
}

std::optional<int> LinkManager::pendingRelaunchMs() const
{
    return relaunchTimer.isActive() ? std::optional<int>(relaunchTimer.interval()) : std::nullopt;
}

quint64 LinkManager::nextGeneration()
{
    polling = false; // a result of the old generation will not come back to clear it
    return ++generation;
}

void LinkManager::setHelper(const Helper& helper)
{
    if (state == helper)
        return;
    state = helper;
    Q_EMIT changed();
}

void LinkManager::setLastError(const std::optional<QString>& text)
{
    if (error == text)
        return;
    error = text;
    Q_EMIT changed();
}

// ---- supervision

void LinkManager::start()
{
    if (started)
        return;
    started = true;
    stopping = false;
    backoffMs = delays.relaunchMs;
    if (!programPath()) {
        setHelper(Helper::unavailable(QStringLiteral("这个包里没有 tarnel-net")));
        Log::write(QStringLiteral("设备互联：找不到 tarnel-net，功能不可用"));
        return;
    }
    const QStringList ids = wantedProvider();
    checks.setWanted(QSet<QString>(ids.begin(), ids.end()));
    launch();
    network.start();
    reschedule();
}

void LinkManager::stop(const QString& reason)
{
    if (!started && !child)
        return;
    started = false;
    stopping = true;
    nextGeneration();
    spawnPending.reset();
    pollTimer.stop();
    firstPollTimer.stop();
    relaunchTimer.stop();
    netchangeTimer.stop();
    network.stop();

    quitLeftover([] {});
    if (child)
        retire(std::exchange(child, nullptr));

    guard.update(false);
    setHelper(Helper::stopped());
    document.reset();
    if (!peerList.isEmpty()) {
        peerList.clear();
        Q_EMIT peersChanged();
    }
    Q_EMIT changed();
    Log::write(QStringLiteral("设备互联：停止（%1）").arg(reason));
}

void LinkManager::shutdown()
{
    if (started || child)
        stop(QStringLiteral("app 退出"));
    queue.clear();
    if (!retiring.isEmpty()) {
        if (QFile::exists(socketPath()))
            UnixSocket::request(socketPath(), quitRequest, delays.quitMs / 1000.0);
        const QDeadlineTimer grace(delays.killGraceMs);
        for (const auto& old : std::as_const(retiring)) {
            if (!old->waitForExit(int(grace.remainingTime()))) {
                old->kill();
                old->waitForExit(-1);
            }
        }
        retiring.clear();
    }
    queue.waitForDone();
}

void LinkManager::launch()
{
    const quint64 gen = nextGeneration();
    if (!writeToken()) {
        setHelper(Helper::failed(QStringLiteral("还没登录，设备互联等登录后再启动")));
        return;
    }
    const Outcome<QString> key = SSHKey::ensure(SSHKey::defaultPath(), SSHKey::comment(SSHKey::machineName()));
    if (!key.ok())
        Log::write(QStringLiteral("设备互联：生成设备钥匙失败 ") + key.failure());
    firstPollTimer.start(delays.firstPollMs);
    // A program still answering on the socket (the one just stopped, or one left by an earlier run) is told
    // to quit first, and a stopped one must have ended: neither may take the new program's socket.
    quitLeftover([this, gen] { spawnWhenClear(gen); });
}

void LinkManager::quitLeftover(std::function<void()> then)
{
    const QString path = socketPath();
    const double seconds = delays.quitMs / 1000.0;
    QtConcurrent::run(&queue, [path, seconds] {
        if (QFile::exists(path))
            UnixSocket::request(path, quitRequest, seconds);
    }).then(this, std::move(then));
}

void LinkManager::spawnWhenClear(quint64 launchGeneration)
{
    if (!current(launchGeneration))
        return;
    if (!retiring.isEmpty()) {
        spawnPending = launchGeneration;
        return;
    }
    spawn();
}

QStringList LinkManager::arguments() const
{
    QStringList args{
        QStringLiteral("serve"),
        QStringLiteral("--state"), Paths::netDirectory(),
        QStringLiteral("--server"), QXServer::defaultURL().toString(),
        QStringLiteral("--token-file"), tokenPath(),
        QStringLiteral("--name"), machineName(),
        QStringLiteral("--ssh-user"), loginName(),
        QStringLiteral("--pubkey-file"), SSHKey::defaultPath() + QStringLiteral(".pub"),
        QStringLiteral("--hostkey-file"), QStringLiteral("/etc/ssh/ssh_host_ed25519_key.pub"),
        QStringLiteral("--app-build"), AppInfo::current().build,
        QStringLiteral("--parent-pid"), QString::number(::getpid()),
        QStringLiteral("--fallback-server"), QXServer::legacyURL().toString(),
    };
    if (allowInboundProvider())
        args << QStringLiteral("--allow-inbound");
    return args;
}

void LinkManager::spawn()
{
    const std::optional<QString> program = programPath();
    if (!program) {
        setHelper(Helper::unavailable(QStringLiteral("这个包里没有 tarnel-net")));
        return;
    }
    Paths::ensure(Paths::logsDirectory());
    const int logFd = ::open(QFile::encodeName(logPath()).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (logFd >= 0)
        ::fchmod(logFd, 0600); // private even when an older file was not
    const QStringList environment{
        QStringLiteral("HOME=") + QDir::homePath(),
        QStringLiteral("PATH=/usr/bin:/bin"),
        QStringLiteral("LANG=zh_CN.UTF-8"),
    };
    const auto spawned = ProcessRunner::spawn(*program, arguments(), environment, logFd);
    if (logFd >= 0)
        ::close(logFd); // the child holds its own copy
    if (!spawned.ok()) {
        setHelper(Helper::failed(QStringLiteral("启动 tarnel-net 失败：") + spawned.failure()));
        Log::write(QStringLiteral("设备互联：启动 tarnel-net 失败 ") + spawned.failure());
        return;
    }
    child = spawned.value();
    const ProcessRunner::Child* raw = child.get();
    child->onExit = [this, raw](int status) { childEnded(raw, status); };
    runningFor.start();
    setHelper(Helper::running(child->pid()));
    setLastError(std::nullopt);
    firstPollTimer.start(delays.firstPollMs);
    Log::write(QStringLiteral("设备互联：tarnel-net 已启动（pid %1，允许连接=%2）")
                   .arg(child->pid())
                   .arg(allowInboundProvider() ? QStringLiteral("true") : QStringLiteral("false")));
}

void LinkManager::retire(std::shared_ptr<ProcessRunner::Child> old)
{
    old->onExit = [this, raw = old.get()](int status) { childEnded(raw, status); };
    old->terminate();
    QTimer::singleShot(delays.killGraceMs, this, [weak = std::weak_ptr(old)] {
        if (const auto c = weak.lock())
            c->kill();
    });
    retiring << std::move(old);
}

void LinkManager::childEnded(const ProcessRunner::Child* ended, int status)
{
    if (child && child.get() == ended) {
        processEnded(status);
        return;
    }
    // A stopped program: only its own bookkeeping goes; the link it belonged to is gone.
    retiring.removeIf([ended](const auto& c) { return c.get() == ended; });
    if (retiring.isEmpty() && spawnPending) {
        const quint64 gen = *std::exchange(spawnPending, std::nullopt);
        if (current(gen))
            spawn();
    }
}

void LinkManager::processEnded(int status)
{
    child.reset();
    if (stopping || !started)
        return;
    if (runningFor.isValid() && runningFor.elapsed() >= delays.steadyRunMs)
        backoffMs = delays.relaunchMs;
    const int delay = backoffMs;
    backoffMs = std::min(backoffMs * 2, delays.relaunchMaxMs);
    const int seconds = delay / 1000;
    if (status == accountRefusedExit) {
        // The check-in below decides: signed out (a removed machine) means no restart at all.
        setHelper(Helper::failed(QStringLiteral("tarnel-net 退出了（代码 %1）：账号服务不再接受这个登录，正在核对登录").arg(status)));
        Log::write(QStringLiteral("设备互联：tarnel-net 退出（%1）：账号服务不再接受这个登录；登录还有效才会在 %2 秒后重启；详情看 logs/tarnel-net.log")
                       .arg(status).arg(seconds));
    } else {
        setHelper(Helper::failed(QStringLiteral("tarnel-net 退出了（代码 %1），%2 秒后自动重启").arg(status).arg(seconds)));
        Log::write(QStringLiteral("设备互联：tarnel-net 退出（%1），%2 秒后重启；详情看 logs/tarnel-net.log").arg(status).arg(seconds));
    }
    if (!sinceExitCheckIn.isValid() || sinceExitCheckIn.elapsed() >= delays.exitCheckInGapMs) {
        sinceExitCheckIn.start();
        onHelperExit(status);
    }
    relaunchTimer.start(delay);
}

void LinkManager::relaunch()
{
    if (!started || !programPath())
        return;
    // The exit line promised a restart: say why none follows (signed out, or this machine was kicked).
    if (const std::optional<QString> token = tokenProvider(); !token || token->isEmpty())
        Log::write(QStringLiteral("设备互联：已经没有登录，tarnel-net 不重启，等登录后再启动"));
    launch();
}

bool LinkManager::writeToken()
{
    const std::optional<QString> token = tokenProvider();
    if (!token || token->isEmpty())
        return false;
    Paths::ensure(Paths::netDirectory());
    const Outcome<> written = AtomicFile::write(tokenPath(), token->toUtf8(), 0600);
    if (!written.ok()) {
        Log::write(QStringLiteral("设备互联：写令牌文件失败 ") + written.failure());
        return false;
    }
    return true;
}

void LinkManager::removeToken() { QFile::remove(tokenPath()); }

// ---- commands

void LinkManager::setAllowInbound(bool on)
{
    guard.update(on && started);
    Log::write(QStringLiteral("设备互联：允许其他设备连接 = ") + (on ? QStringLiteral("true") : QStringLiteral("false")));
    if (state.kind != Helper::Kind::running)
        return;
    const quint64 gen = generation;
    command({{QStringLiteral("cmd"), QStringLiteral("allow")}, {QStringLiteral("on"), on}})
        .then(this, [this, gen](const Outcome<>& sent) {
            if (!current(gen))
                return;
            if (!sent.ok())
                setLastError(sent.failure());
            else
                poll();
        });
}

QFuture<Outcome<>> LinkManager::rename(const QString& name, const QString& alias)
{
    if (!LinkSSHConfig::aliasValid(alias))
        return QtFuture::makeReadyFuture(
            Outcome<>::failure(QStringLiteral("别名只能是 qx- 加小写字母、数字、短横，最长 24 个字符")));
    const QString trimmed = trimBlanks(name);
    if (const auto problem = DeviceName::problem(trimmed))
        return QtFuture::makeReadyFuture(Outcome<>::failure(*problem));
    return command({{QStringLiteral("cmd"), QStringLiteral("rename")},
                    {QStringLiteral("name"), trimmed},
                    {QStringLiteral("alias"), alias}});
}

void LinkManager::netChanged()
{
    if (state.kind == Helper::Kind::running)
        command({{QStringLiteral("cmd"), QStringLiteral("netchange")}});
}

QFuture<Outcome<>> LinkManager::command(const QJsonObject& json)
{
    const quint64 gen = generation;
    const QString path = socketPath();
    return QtConcurrent::run(&queue, [path, json] {
               Reply reply;
               const auto exchange = UnixSocket::requestLine(path, QJsonDocument(json).toJson(QJsonDocument::Compact), 10.0);
               if (!exchange.ok()) {
                   reply.error = exchange.failure();
                   return reply;
               }
               const QJsonDocument parsed = QJsonDocument::fromJson(exchange.value());
               if (!parsed.isObject())
                   return reply; // nothing to apply
               if (parsed.object().contains(QStringLiteral("error")))
                   reply.error = errorText(parsed.object());
               else if (NodeStatus::isDocument(parsed.object()))
                   reply.document = NodeStatus::decode(parsed.object());
               return reply;
           })
        .then(this, [this, gen](const Reply& reply) {
            if (reply.document && current(gen))
                apply(reply.document, std::nullopt, sshdUp, std::nullopt, std::nullopt);
            return reply.error ? Outcome<>::failure(*reply.error) : Outcome<>::success();
        });
}

// ---- status

void LinkManager::reschedule()
{
    pollTimer.stop();
    if (!started)
        return;
    pollTimer.start(pollFast ? delays.fastPollMs : delays.pollMs);
    if (!firstPollTimer.isActive())
        poll();
}

void LinkManager::setPollFast(bool fast)
{
    if (pollFast == fast)
        return;
    pollFast = fast;
    reschedule();
}

void LinkManager::poll()
{
    if (!started || polling)
        return;
    polling = true;
    const quint64 gen = generation;
    const QString socket = socketPath();
    const bool probe = allowInboundProvider();
    const quint16 port = sshdPort;
    const QString sshDir = sshDirectory;
    const QString devicesConfig = devicesConfigPath();
    QtConcurrent::run(&queue, [=] {
        PollResult result;
        const Outcome<NodeStatus> fetched = fetchStatus(socket);
        if (fetched.ok())
            result.document = fetched.value();
        else
            result.error = fetched.failure();
        result.sshd = probe && RemoteLogin::sshdListening(400, port);
        result.authorizedKeys = readText(sshDir + QStringLiteral("/authorized_keys"));
        result.includesDevices = configIncludesDevices(readText(sshDir + QStringLiteral("/config")), devicesConfig);
        return result;
    }).then(this, [this, gen](const PollResult& result) {
        if (!current(gen))
            return;
        polling = false;
        apply(result.document, result.error, result.sshd, result.authorizedKeys, result.includesDevices);
    });
}

void LinkManager::apply(const std::optional<NodeStatus>& status, const std::optional<QString>& failure, bool sshd,
    const std::optional<QString>& authorizedKeys, std::optional<bool> includesDevices)
{
    polledAt = Clock::instance().now();
    if (sshdUp != sshd)
        sshdUp = sshd;
    if (includesDevices && includeFound != *includesDevices)
        includeFound = *includesDevices;
    guard.update(started && allowInboundProvider());
    if (!status) {
        if (state.kind == Helper::Kind::running && failure)
            error = failure;
        Q_EMIT changed();
        return;
    }
    error.reset();
    document = status;
    const QList<PeerDevice> sorted = sortedPeers(status->peers);
    if (peerList != sorted) {
        peerList = sorted;
        Q_EMIT peersChanged();
    }
    if (authorizedKeys) {
        if (QSet<QString> ids = authorizedKeyIDs(*authorizedKeys, sorted); ids != keyIDs)
            keyIDs = std::move(ids);
    }
    // The files first: a check started now must find the peer's Host block.
    syncFilesIfNeeded(sorted);
    checks.reconcile(sorted);
    noticeNewDevices(sorted);
    Q_EMIT changed();
    Q_EMIT statusApplied();
}

QList<PeerDevice> LinkManager::sortedPeers(QList<PeerDevice> peers)
{
    // The C locale compares code units and ignores the numeric mode: fall back to English rules there.
    const QLocale locale = QLocale().language() == QLocale::C ? QLocale(QLocale::English) : QLocale();
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(peers.begin(), peers.end(), [&](const PeerDevice& a, const PeerDevice& b) {
        if (a.online != b.online)
            return a.online;
        return collator.compare(a.shownName(), b.shownName()) < 0;
    });
    return peers;
}

QSet<QString> LinkManager::authorizedKeyIDs(const QString& authorizedKeys, const QList<PeerDevice>& peers)
{
    QSet<QString> keyData;
    for (const QString& line : textLines(authorizedKeys)) {
        const QStringList words = blankWords(line);
        for (qsizetype i = 0; i < words.size(); ++i) {
            const QString& w = words[i];
            if (!w.startsWith(QLatin1String("ssh-")) && !w.startsWith(QLatin1String("ecdsa-")) && !w.startsWith(QLatin1String("sk-")))
                continue;
            if (i + 1 < words.size())
                keyData.insert(words[i + 1]);
            break;
        }
    }
    QSet<QString> ids;
    for (const PeerDevice& peer : peers) {
        const QStringList words = blankWords(peer.sshPubKey);
        if (words.size() >= 2 && keyData.contains(words[1]))
            ids.insert(peer.id);
    }
    return ids;
}

bool LinkManager::configIncludesDevices(const QString& config, const QString& path)
{
    for (const QString& raw : textLines(config)) {
        const QString line = trimSpaces(raw);
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QString lower = line.toLower();
        for (const char* block : {"host ", "host\t", "match ", "match\t"})
            if (lower.startsWith(QLatin1String(block)))
                return false;
        if (lower.startsWith(QLatin1String("include")) && line.contains(path))
            return true;
    }
    return false;
}

void LinkManager::syncFilesIfNeeded(const QList<PeerDevice>& sorted)
{
    const QString fingerprint = LinkSSHConfig::fingerprint(sorted);
    if (filesFingerprint == fingerprint)
        return;
    const std::optional<QString> program = programPath();
    if (!program)
        return;
    for (const PeerDevice& peer : sorted) {
        const auto why = LinkSSHConfig::hostility(peer);
        if (why && !std::exchange(reportedSkips[LinkSSHConfig::fingerprint({peer})], true))
            Log::write(QStringLiteral("设备互联：「%1」的设备记录不安全（%2），不写进 ssh_config_devices").arg(loggable(peer), *why));
    }
    const auto fail = [this](const QString& why) {
        const QDateTime now = Clock::instance().now();
        if (why == lastFilesFailure && filesFailureLoggedAt.isValid() && filesFailureLoggedAt.secsTo(now) < 60)
            return;
        lastFilesFailure = why;
        filesFailureLoggedAt = now;
        Log::write(QStringLiteral("设备互联：写 ssh_config_devices 失败 ") + why);
    };
    Paths::ensure(Paths::dataDirectory());
    const auto config = LinkSSHConfig::render(sorted, {*program, Paths::netDirectory(), Paths::dataDirectory()});
    if (!config)
        return fail(QStringLiteral("路径里有引号、$、反引号、反斜杠或控制字符"));
    if (const auto written = AtomicFile::write(devicesConfigPath(), config->toUtf8(), 0600); !written.ok())
        return fail(written.failure());
    const QString knownHosts = LinkSSHConfig::renderKnownHosts(sorted);
    if (const auto written = AtomicFile::write(devicesKnownHostsPath(), knownHosts.toUtf8(), 0600); !written.ok())
        return fail(written.failure());
    filesFingerprint = fingerprint;
    lastFilesFailure.clear();
    filesFailureLoggedAt = QDateTime();
    Log::write(QStringLiteral("设备互联：ssh_config_devices 已更新（%1 台）").arg(sorted.size()));
}

void LinkManager::noticeNewDevices(const QList<PeerDevice>& sorted)
{
    if (sorted.isEmpty())
        return;
    QStringList seen = seenDevices();
    const bool firstRun = seen.isEmpty();
    bool added = false;
    for (const PeerDevice& peer : sorted) {
        if (peer.id.isEmpty() || seen.contains(peer.id))
            continue;
        seen << peer.id;
        added = true;
        if (firstRun)
            continue;
        Log::write(QStringLiteral("设备互联：新设备「%1」加入了账号").arg(loggable(peer)));
        onNewDevice(peer);
    }
    if (added)
        saveSeenDevices(seen);
}

void LinkManager::pathChanged(const QString& key)
{
    if (key == lastPathKey)
        return;
    const QString old = std::exchange(lastPathKey, key);
    if (old.isEmpty())
        return;
    netchangeTimer.start(delays.netchangeMs);
}

// ---- the devices page

QList<PeerDevice> LinkManager::onlinePeers() const
{
    QList<PeerDevice> out;
    std::copy_if(peerList.begin(), peerList.end(), std::back_inserter(out), [](const PeerDevice& p) { return p.online; });
    return out;
}

QList<PeerDevice> LinkManager::offlinePeers() const
{
    QList<PeerDevice> out;
    std::copy_if(peerList.begin(), peerList.end(), std::back_inserter(out), [](const PeerDevice& p) { return !p.online; });
    return out;
}

QList<PeerDevice> LinkManager::keyLinesForOthers() const
{
    QList<PeerDevice> out = onlinePeers();
    out.removeIf([](const PeerDevice& p) { return p.sshPubKey.isEmpty(); });
    return out;
}

void LinkManager::openTunnel(const PeerDevice& peer, bool automatic) { checks.open(peer, automatic); }

void LinkManager::closeTunnel(const PeerDevice& peer) { checks.close(peer); }

QString LinkManager::commandText(const PeerDevice& peer) const
{
    return includeFound ? QStringLiteral("ssh ") + peer.alias : longCommandText(peer);
}

QString LinkManager::longCommandText(const PeerDevice& peer)
{
    return QStringLiteral("ssh -F \"%1\" %2").arg(devicesConfigPath(), peer.alias);
}

QString LinkManager::keyAddCommand(const PeerDevice& peer)
{
    // Both go between single quotes: no apostrophe, and no control character that could end the line.
    const auto quotable = [](const QString& text) { return PeerDevice::plain(text).remove(QLatin1Char('\'')); };
    const QString key = quotable(peer.sshPubKey);
    const QString name = quotable(peer.shownName());
    // A file without a final line feed gets one first, or the key would join its last line.
    return QStringLiteral("mkdir -p ~/.ssh && chmod 700 ~/.ssh && "
                          "( [ -z \"$(tail -c 1 ~/.ssh/authorized_keys 2>/dev/null)\" ] || echo >> ~/.ssh/authorized_keys ) && "
                          "printf '%s\\n' '%1' >> ~/.ssh/authorized_keys && chmod 600 ~/.ssh/authorized_keys && "
                          "echo '已允许 %2 免密登录这台电脑'")
        .arg(key, name);
}

Outcome<> LinkManager::openTerminal(const PeerDevice& peer) const
{
    return TerminalLauncher::open({QStringLiteral("ssh"), QStringLiteral("-F"), devicesConfigPath(), peer.alias},
        peer.alias, peer.shownName());
}

bool LinkManager::openTerminalApp() { return TerminalLauncher::openApp(); }

QFuture<Outcome<>> LinkManager::remove(const PeerDevice& peer)
{
    const std::optional<QString> token = tokenProvider();
    if (!token || token->isEmpty())
        return QtFuture::makeReadyFuture(Outcome<>::failure(QStringLiteral("还没登录")));
    return QXServer::removeDevice(peer.id, *token).then(this, [this, peer](const QXServer::Result<OKReply>& result) {
        if (!result.ok())
            return Outcome<>::failure(result.failure.message);
        Log::write(QStringLiteral("设备互联：已踢出「%1」").arg(peer.plainName()));
        onDeviceRemoved(peer);
        // The link program and, through it, the other devices drop the removed one's tunnels now.
        if (state.kind == Helper::Kind::running)
            command({{QStringLiteral("cmd"), QStringLiteral("devices")}});
        poll();
        return Outcome<>::success();
    });
}
