#include "state/AppInfo.h"
#include "account/Updater.h"
#include "app/CommandLine.h"
#include "app/SingleInstance.h"
#include "platform/BundleCheck.h"
#include "platform/NoGlobalHotkeys.h"
#include "platform/x11/LogindSleepInhibitor.h"
#include "platform/x11/LogindWakeNotifier.h"
#include "platform/x11/NetlinkNetworkMonitor.h"
#include "platform/x11/SystemClipboard.h"
#include "platform/x11/SystemdUserAgent.h"
#include "platform/x11/TerminationSignals.h"
#include "platform/x11/X11AccessibilityTrust.h"
#include "platform/x11/X11ActiveWindow.h"
#include "platform/x11/X11Display.h"
#include "platform/x11/X11GlobalHotkeys.h"
#include "platform/x11/X11Keyboard.h"
#include "platform/x11/XdgAutostart.h"
#include "platform/x11/XdgOpener.h"
#include "state/Paths.h"
#include "ui/shell/AppDelegate.h"
#include "ui/shell/FlashOverlay.h"
#include "ui/shell/QtTranslations.h"

#include <QApplication>
#include <QFileInfo>
#include <cstdio>
#include <optional>

extern const char* const publisherKeys;

namespace {
// A relaunch (e.g. after an update) touches relaunch.flag so the new process may take over at once.
bool relaunchFlagIsFresh()
{
    const QFileInfo flag(Paths::inData(QStringLiteral("relaunch.flag")));
    return flag.exists() && flag.lastModified().secsTo(QDateTime::currentDateTime()) < 20;
}

// The line to leave with when there is no X server to show on (Qt would abort with its own English
// message); none when there is one, or another platform (offscreen in tests) needs none.
std::optional<QString> missingDesktop()
{
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    if ((!platform.isEmpty() && !platform.startsWith(QLatin1String("xcb"))) || X11Display::reachable())
        return std::nullopt;
    const QString display = qEnvironmentVariable("DISPLAY");
    return display.isEmpty()
        ? QStringLiteral("tarnel 要在图形桌面（X11）里运行：这里没有显示器（没有设置 DISPLAY），请在桌面会话的终端里启动。\n")
        : QStringLiteral("tarnel 要在图形桌面（X11）里运行：连不上显示器 %1，请在桌面会话的终端里启动。\n").arg(display);
}
} // namespace

int main(int argc, char** argv)
{
    // Answered before any window system is touched.
    if (const auto text = CommandLine::answer(argc, argv)) {
        std::fputs(text->toUtf8().constData(), stdout);
        return 0;
    }

    if (const auto missing = missingDesktop()) {
        std::fputs(missing->toUtf8().constData(), stderr);
        return 1;
    }

    Updater::usePublisherKeys(BundleCheck::decodeKeys(QString::fromLatin1(publisherKeys)));
    QApplication application(argc, argv);
    application.setApplicationName(QStringLiteral("tarnel"));
    application.setOrganizationName(QStringLiteral("tarnel"));
    application.setQuitOnLastWindowClosed(false);
    QtTranslations::installChinese(application);

    // Two instances on one data folder would both number and send every shot, and race on the state
    // files: one per user whether or not it runs as the bundle, and one per data folder.
    SingleInstance instance(SingleInstance::defaultSocketPath());
    const bool takeOver = AppInfo::launchedByAgent() || relaunchFlagIsFresh();
    if (!Paths::dataOverride()) {
        if (takeOver && instance.otherRunning())
            QFile::remove(Paths::inData(QStringLiteral("relaunch.flag")));
        if (instance.claim(takeOver) == SingleInstance::Decision::exit) {
            // Asked the running one to show its panel: say so, or the start looks like it did nothing.
            if (!takeOver)
                std::fputs(QStringLiteral("tarnel 已在运行，已打开面板\n").toUtf8().constData(), stdout);
            return 0;
        }
        instance.listen();
    }
    // A predecessor handing over (or relaunching) lets go of the folder as its process ends.
    if (!instance.lockDataFolder(Paths::dataDirectory(), takeOver ? 8000 : 0)) {
        std::fputs(QStringLiteral("数据文件夹 %1 正被另一个 tarnel 使用，这次不启动。\n").arg(Paths::dataDirectory()).toUtf8().constData(),
                   stderr);
        return 1;
    }

    SystemClipboard clipboard;
    std::unique_ptr<GlobalHotkeys> hotkeys = X11GlobalHotkeys::forApplication();
    if (!hotkeys)
        hotkeys = std::make_unique<NoGlobalHotkeys>();
    X11ActiveWindow activeWindow;
    X11Keyboard keyboard;
    X11AccessibilityTrust trust;
    const QString program = QCoreApplication::applicationFilePath();
    XdgAutostart loginItem(program);
    SystemdUserAgent agent(program, SystemdUserAgent::realSystemctl());
    LogindWakeNotifier wake;
    FlashOverlay flash;
    XdgOpener opener;
    LogindSleepInhibitor sleepInhibitor;
    NetlinkNetworkMonitor network;

    // A logout or `kill` quits as "退出 tarnel" does; it outlives the delegate, whose teardown stops the link.
    TerminationSignals termination;
    AppDelegate delegate(DesktopServices{clipboard, *hotkeys, activeWindow, keyboard, trust, loginItem, agent, &wake, flash,
                                          opener, sleepInhibitor, network});
    QObject::connect(&instance, &SingleInstance::showMainWindowRequested, &delegate, &AppDelegate::showMainWindow);
    QObject::connect(&instance, &SingleInstance::handoffRequested, &delegate, &AppDelegate::handOff);
    QObject::connect(&termination, &TerminationSignals::received, &delegate, &AppDelegate::quit);
    delegate.launch();
    return application.exec();
}
