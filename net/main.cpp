// tarnel-net: `serve` keeps this device linked with the other devices of its account; `dial` is ssh's
// proxy command through those links.
#include "Dial.h"
#include "Identity.h"
#include "NetConfig.h"
#include "NetLog.h"
#include "Node.h"
#include "ServeOptions.h"
#include "StateLock.h"

#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum Exit { ok = 0, failure = 1, usage = 2, accountRefused = 3, stateBusy = 4 };

int printUsage()
{
    std::fputs("用法：tarnel-net serve --state 目录 --server URL --token-file 文件 [--name 名字] [--ssh-user 登录名]\n"
               "                      [--pubkey-file 文件] [--hostkey-file 文件] [--app-build 编号]\n"
               "                      [--parent-pid 进程号] [--fallback-server URL] [--allow-inbound]\n"
               "      tarnel-net dial --state 目录 设备编号 端口\n",
               stderr);
    return usage;
}

// SIGTERM and SIGINT arrive as events: the program ends cleanly from the event loop.
void watchSignals(Node& node)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    const int fd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &node);
    QObject::connect(notifier, &QObject::destroyed, [fd] { ::close(fd); });
    QObject::connect(notifier, &QSocketNotifier::activated, &node, [&node, fd] {
        signalfd_siginfo info;
        if (::read(fd, &info, sizeof info) == sizeof info)
            NetLog::line(QStringLiteral("收到信号 %1，退出").arg(info.ssi_signo));
        node.shutdown(ok);
    });
}

int serve(QCoreApplication& app, const QStringList& args)
{
    auto parsed = ServeOptions::parse(args);
    if (auto* error = std::get_if<QString>(&parsed)) {
        NetLog::line(*error);
        return usage;
    }
    const ServeOptions& options = std::get<ServeOptions>(parsed);
    umask(077);
    if (!QDir().mkpath(options.state)) {
        NetLog::line(QStringLiteral("建不了目录 %1").arg(options.state));
        return failure;
    }
    ::chmod(QFile::encodeName(options.state).constData(), 0700);
    StateLock lock;
    if (!lock.acquire(options.state, 5000)) {
        NetLog::line(QStringLiteral("另一个 tarnel-net 正在用 %1，这个退出").arg(options.state));
        return stateBusy;
    }
    QString problem;
    const NetConfig config = NetConfig::load(QDir(options.state).filePath(QStringLiteral("config.json")), &problem);
    if (!problem.isEmpty())
        NetLog::line(problem);
    QString rejoinedWith;
    for (;;) {
        auto identity = Identity::loadOrCreate(options.state, &problem);
        if (!identity) {
            NetLog::line(problem);
            return failure;
        }
        Node node(options, config, std::move(*identity));
        node.setRejoinedWith(rejoinedWith);
        watchSignals(node);
        if (auto error = node.start()) {
            NetLog::line(*error);
            return failure;
        }
        const int code = app.exec();
        if (code != Node::rejoinCode)
            return code;
        if (!Identity::discard(options.state)) {
            NetLog::line(QStringLiteral("删不掉旧的设备身份（%1）").arg(options.state));
            return failure;
        }
        rejoinedWith = node.currentToken();
    }
}

int dial(QCoreApplication& app, const QStringList& args)
{
    QString state;
    QStringList words;
    for (int i = 0; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--state") && i + 1 < args.size())
            state = args.at(++i);
        else
            words.append(args.at(i));
    }
    bool numeric = false;
    const int port = words.size() == 2 ? words.at(1).toInt(&numeric) : 0;
    if (state.isEmpty() || words.size() != 2 || !numeric || port <= 0 || port > 65535) {
        std::fputs("tarnel-net：dial 的参数不对，连不上\n", stderr);
        return usage;
    }
    Dial session(state, words.at(0), port);
    return app.exec();
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.contains(QStringLiteral("--help"))) {
        printUsage();
        return ok;
    }
    const QString command = args.isEmpty() ? QString() : args.takeFirst();
    if (command == QLatin1String("serve"))
        return serve(app, args);
    if (command == QLatin1String("dial"))
        return dial(app, args);
    return printUsage();
}
