#include "ui/shell/AppDelegate.h"

#include "account/Account.h"
#include "account/Updater.h"
#include "state/AppInfo.h"
#include "servers/ServerRegistry.h"
#include "state/Log.h"
#include "state/Paths.h"
#include "state/Store.h"
#include "ui/account/LoginWindowController.h"
#include "ui/feedback/FeedbackWindowController.h"
#include "ui/kit/Symbols.h"
#include "ui/onboarding/OnboardingWindowController.h"
#include "ui/settings/SettingsWindowController.h"
#include "ui/shell/RemovalPasswordHost.h"
#include "ui/account/UpdateWindowController.h"
#include "ui/shell/PanelController.h"
#include "ui/shell/StatusItem.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

AppDelegate::AppDelegate(DesktopServices desktop, QObject* parent) : QObject(parent), desktop(desktop) {}

AppDelegate::~AppDelegate()
{
    // The windows go before the hub: its window hooks must not reach them any more.
    if (app) {
        app->showFeedbackWindow = nullptr;
        app->hideFeedbackWindow = nullptr;
        app->openSettings = nullptr;
        app->openOnboarding = nullptr;
    }
}

void AppDelegate::launch()
{
    Log::write(QStringLiteral("启动 tarnel %1 (%2)").arg(AppInfo::current().version, AppInfo::current().build));
    QApplication::setWindowIcon(Symbols::trayGlyph());
    Paths::ensure(Paths::dataDirectory());
    store = std::make_unique<Store>(Paths::dataDirectory());
    app = std::make_unique<AppState>(*store, desktop);
    // The hooks first: windows offer each other only when the hook is set. A window that was never built
    // has nothing to hide.
    app->hidePanel = [this] {
        if (panelController)
            panelController->hide();
    };
    app->togglePanel = [this] {
        const QRect tray = status->geometry();
        panel().toggle(tray.isValid() ? std::optional<QRect>(tray) : std::nullopt);
    };
    app->showLoginWindow = [this](bool registering) { login().show(registering); };
    app->showFeedbackWindow = [this] { feedback().show(); };
    app->hideFeedbackWindow = [this] {
        if (feedbackController)
            feedbackController->hide();
    };
    app->openSettings = [this] { settings().show(); };
    app->openOnboarding = [this] { onboarding().show(); };
    removalPrompts = std::make_unique<RemovalPasswordHost>(*app);
    status = std::make_unique<StatusItem>(*app, [this] { quit(); });

    connect(&app->account(), &Account::changed, this, &AppDelegate::followAccount, Qt::QueuedConnection);
    lastAccount = std::pair<int, bool>(int(app->account().status()), app->account().record().has_value());
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        Log::write(handingOff ? QStringLiteral("退出（交给新实例）") : QStringLiteral("退出"));
        Log::flush();
    });

    // The icon goes to the tray before the services take their share of the start.
    QTimer::singleShot(0, this, &AppDelegate::startServices);
    QTimer::singleShot(firstWindowDelayMs, this, &AppDelegate::showFirstWindow);
}

void AppDelegate::startServices()
{
    // It shows itself when the updater finds a release: it must be there before the updater starts.
    updatePrompt();
    connect(&app->updater(), &Updater::changed, this, &AppDelegate::showManualResult, Qt::QueuedConnection);
    app->start();
}

namespace {
// Windows are made when first wanted: most starts never show them.
template <typename T, typename... Args>
T& madeOnDemand(std::unique_ptr<T>& slot, Args&&... args)
{
    if (!slot)
        slot = std::make_unique<T>(std::forward<Args>(args)...);
    return *slot;
}
} // namespace

UpdateWindowController& AppDelegate::updatePrompt() { return madeOnDemand(updateController, app->updater()); }

PanelController& AppDelegate::panel() { return madeOnDemand(panelController, *app); }

LoginWindowController& AppDelegate::login()
{
    const bool made = !loginController;
    LoginWindowController& login = madeOnDemand(loginController, app->account());
    if (made)
        connect(&login, &LoginWindowController::quitRequested, this, &AppDelegate::quit, Qt::QueuedConnection);
    return login;
}

FeedbackWindowController& AppDelegate::feedback() { return madeOnDemand(feedbackController, *app); }

SettingsWindowController& AppDelegate::settings() { return madeOnDemand(settingsController, *app); }

OnboardingWindowController& AppDelegate::onboarding() { return madeOnDemand(onboardingController, *app); }

void AppDelegate::showFirstWindow()
{
    if (!app->account().isUsable())
        login().show(false);
    else if (!app->settings().onboardingDone)
        app->openOnboarding();
    else if (app->registry().servers().isEmpty() || AppInfo::showMainForced())
        panel().show(std::nullopt, PanelTab::servers);
    Q_EMIT firstWindowShown();
}

void AppDelegate::offerOnboarding()
{
    if (app->account().isUsable() && !app->settings().onboardingDone)
        app->openOnboarding();
}

void AppDelegate::followAccount()
{
    const std::pair<int, bool> now(int(app->account().status()), app->account().record().has_value());
    if (lastAccount == now)
        return;
    lastAccount = now;
    const bool activeWithRecord = app->account().status() == Account::Status::active && now.second;
    if (activeWithRecord) {
        if (loginController)
            loginController->hide();
        QTimer::singleShot(onboardingAfterSignInMs, this, &AppDelegate::offerOnboarding);
    } else {
        app->hidePanel();
        login().show(false);
    }
}

void AppDelegate::showManualResult()
{
    const auto text = app->updater().manualResult();
    if (!text || manualAlert)
        return;
    manualAlert = new QMessageBox(QMessageBox::Information, QStringLiteral("检查更新"), QStringLiteral("检查更新"));
    manualAlert->setObjectName(QStringLiteral("updateResultAlert"));
    manualAlert->setTextFormat(Qt::PlainText);
    manualAlert->setInformativeText(*text);
    manualAlert->addButton(QStringLiteral("好"), QMessageBox::AcceptRole);
    manualAlert->setWindowModality(Qt::ApplicationModal);
    manualAlert->setAttribute(Qt::WA_DeleteOnClose);
    connect(manualAlert, &QMessageBox::finished, this, [this] {
        manualAlert = nullptr;
        app->updater().clearManualResult();
    });
    manualAlert->open();
    manualAlert->raise();
    manualAlert->activateWindow();
}

void AppDelegate::showMainWindow()
{
    if (!app->account().isUsable())
        login().show(false);
    else
        panel().show(std::nullopt, PanelTab::servers);
}

void AppDelegate::handOff()
{
    handingOff = true;
    quit();
}

void AppDelegate::quit()
{
    // exit(), not quit(): quit() first asks every window to close, and the kept windows (which only hide)
    // or the update prompt (whose closing means "稍后") would cancel it. The hub, destroyed after the
    // event loop, shuts the link down and flushes the state.
    QCoreApplication::exit(0);
}
