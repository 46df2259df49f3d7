#include "link/TerminalLauncher.h"

#include "link/LinkSSHConfig.h"
#include "link/LinkStatus.h"
#include "platform/ProcessRunner.h"
#include "state/AtomicFile.h"
#include "state/Paths.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {

QString findProgram(const QString& name, const QStringList& searchPaths)
{
    if (name.contains(QLatin1Char('/'))) {
        const QFileInfo file(name);
        return file.isAbsolute() && file.isFile() && file.isExecutable() ? name : QString();
    }
    return QStandardPaths::findExecutable(name, searchPaths);
}

} // namespace

std::optional<TerminalLauncher::Terminal> TerminalLauncher::find(const QStringList& searchPaths)
{
    QStringList candidates{QStringLiteral("x-terminal-emulator")};
    const QString chosen = qEnvironmentVariable("TERMINAL").trimmed();
    if (!chosen.isEmpty())
        candidates << chosen;
    candidates << QStringLiteral("gnome-terminal") << QStringLiteral("konsole") << QStringLiteral("xfce4-terminal")
               << QStringLiteral("xterm");
    for (const QString& name : candidates) {
        const QString program = findProgram(name, searchPaths);
        if (!program.isEmpty())
            return Terminal{program, QFileInfo(name).fileName()};
    }
    return std::nullopt;
}

QStringList TerminalLauncher::launchArguments(const Terminal& terminal, const QString& title, const QString& script)
{
    QStringList args;
    const QString shown = PeerDevice::plain(title);
    if (terminal.name == QLatin1String("gnome-terminal"))
        args << QStringLiteral("--title") << shown << QStringLiteral("--") << script;
    else if (terminal.name == QLatin1String("xfce4-terminal"))
        args << QStringLiteral("-T") << shown << QStringLiteral("-x") << script;
    else if (terminal.name == QLatin1String("x-terminal-emulator") || terminal.name == QLatin1String("xterm"))
        args << QStringLiteral("-T") << shown << QStringLiteral("-e") << script;
    else // konsole, and whatever $TERMINAL names: -e is what they share
        args << QStringLiteral("-e") << script;
    return args;
}

QString TerminalLauncher::shellWord(const QString& text)
{
    static const QRegularExpression safe(QStringLiteral("^[A-Za-z0-9_./=:@%+,-]+$"));
    if (safe.match(text).hasMatch())
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString TerminalLauncher::scriptText(const QStringList& command, const QString& title)
{
    QStringList words;
    for (const QString& word : command)
        words << shellWord(word);
    // ssh's own failure (255) leaves the window open with the reason, so a dropped session does not vanish.
    const QString ended = QStringLiteral("到「%1」的 ssh 连接断了（退出码 255，ssh 的说法在上面）：多半是两台之间的链路断开超过 60 秒，"
                                         "或对方的 tarnel 退出了。tarnel 连上后再点「在终端里打开」。")
                              .arg(PeerDevice::plain(title));
    return QStringLiteral("#!/bin/sh\n"
                          "# tarnel 生成：在终端里连到「%1」。可以删，下次点按钮会重新生成。\n"
                          "clear\n"
                          "%2\n"
                          "status=$?\n"
                          "if [ \"$status\" -eq 255 ]; then\n"
                          "    printf '\\n%s\\n%s' %3 %4\n"
                          "    read -r answer\n"
                          "fi\n"
                          "exit \"$status\"\n")
        .arg(PeerDevice::plain(title), words.join(QLatin1Char(' ')), shellWord(ended), shellWord(QStringLiteral("按回车键关闭这个窗口。")));
}

Outcome<> TerminalLauncher::open(const QStringList& command, const QString& alias, const QString& title,
    const QStringList& searchPaths)
{
    // The alias names the file and goes into the script: only the link's own pattern is accepted.
    if (!LinkSSHConfig::aliasValid(alias))
        return Outcome<>::failure(QStringLiteral("这台设备的别名不合规，没有打开终端"));
    const QString dir = Paths::connectDirectory();
    if (!Paths::ensure(dir))
        return Outcome<>::failure(QStringLiteral("建不了 ") + dir);
    const QString script = dir + QLatin1Char('/') + alias + QStringLiteral(".command");
    if (const Outcome<> written = AtomicFile::write(script, scriptText(command, title).toUtf8(), 0755); !written.ok())
        return Outcome<>::failure(QStringLiteral("写不了终端启动文件：") + written.failure());
    const std::optional<Terminal> terminal = find(searchPaths);
    if (!terminal || !ProcessRunner::startDetached(terminal->program, launchArguments(*terminal, title, script))) {
        QStringList words;
        for (const QString& word : command)
            words << shellWord(word);
        return Outcome<>::failure(QStringLiteral("打不开终端（没找到终端程序？在终端里直接运行：%1）").arg(words.join(QLatin1Char(' '))));
    }
    return Outcome<>::success();
}

bool TerminalLauncher::openApp(const QStringList& searchPaths)
{
    const std::optional<Terminal> terminal = find(searchPaths);
    return terminal && ProcessRunner::startDetached(terminal->program, {});
}
