#include "ui/shell/RemovalPasswordHost.h"

#include "app/AppState.h"
#include "platform/Flash.h"
#include "servers/ServerRegistry.h"
#include "ui/panel/PasswordPrompt.h"

RemovalPasswordHost::RemovalPasswordHost(AppState& app, QObject* parent) : QObject(parent), app(app)
{
    connect(&app, &AppState::changed, this, &RemovalPasswordHost::follow, Qt::QueuedConnection);
    follow();
}

RemovalPasswordHost::~RemovalPasswordHost() { delete open; }

void RemovalPasswordHost::follow()
{
    if (open || !app.pendingRemoval())
        return;
    open = new PasswordPrompt(QStringLiteral("这台是用密码登录的，吊销钥匙要再输一次密码"));
    open->setWindowModality(Qt::ApplicationModal);
    connect(open, &PasswordPrompt::answered, this, &RemovalPasswordHost::answer);
    open->show();
    open->raise();
    open->activateWindow();
}

void RemovalPasswordHost::answer(const std::optional<QString>& password)
{
    // Exactly one answer per prompt: the closing window must not answer again.
    if (PasswordPrompt* dialog = open) {
        open = nullptr;
        dialog->disconnect(this);
        dialog->hide();
        dialog->deleteLater();
    }
    const auto pending = app.takePendingRemoval();
    if (!pending)
        return;
    if (password) {
        AppState* hub = &app;
        app.registry().uninstallWithPassword(pending->server, *password, pending->purge,
            [hub](const Outcome<QString>& outcome) {
                hub->flash().show(QImage(), outcome.ok() ? outcome.value() : outcome.failure());
            });
    } else {
        app.flash().show(QImage(), QStringLiteral("已从列表移除；服务器上那一行钥匙没清（它只能放图）"));
    }
}
