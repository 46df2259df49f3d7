#include "app/CommandLine.h"

#include "state/AppInfo.h"

std::optional<QString> CommandLine::answer(int argc, char** argv)
{
    if (argc < 2)
        return std::nullopt;
    const QString first = QString::fromLocal8Bit(argv[1]);
    if (!first.startsWith(QLatin1String("--")))
        return std::nullopt;
    if (first == QLatin1String("--version")) {
        const AppInfo& info = AppInfo::current();
        return QStringLiteral("tarnel %1 (%2)\n").arg(info.version, info.build);
    }
    if (first == QLatin1String("--help"))
        return helpText();
    return QStringLiteral("正式版没有命令行子命令（%1）\n").arg(first);
}

QString CommandLine::helpText()
{
    return QStringLiteral(
        "tarnel：把截图送到你在终端里工作的机器上，一个热键把路径打进终端。\n"
        "\n"
        "用法：tarnel            在托盘里启动\n"
        "      tarnel --version  显示版本\n"
        "      tarnel --help     显示这段说明\n"
        "\n"
        "环境变量：\n"
        "  TARNEL_DATA=<目录>       换一个数据目录（默认 ~/.local/share/tarnel）\n"
        "  TARNEL_SHOW_MAIN=1       启动后打开主面板\n"
        "  TARNEL_LAUNCHD_AGENT=1   由保活服务启动（接管正在运行的实例）\n");
}
