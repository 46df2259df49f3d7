#include "support/SignedInApp.h"

#include "account/AccountRecord.h"
#include "account/QXServer.h"
#include "capture/ShotStore.h"

bool SignedInApp::start(const QString& username)
{
    if (!service.start()) {
        problem = service.error();
        return false;
    }
    QXServer::useURLs(service.url(), service.url());
    token = service.signUp(username, QStringLiteral("secret1"));
    if (token.isEmpty()) {
        problem = QStringLiteral("could not register ") + username;
        return false;
    }
    if (const auto saved = AccountRecord{username, username, token, std::nullopt}.save(); !saved.ok()) {
        problem = saved.failure();
        return false;
    }
    files = std::make_unique<Store>(data.path());
    hub = std::make_unique<AppState>(*files, desktop.services());
    hub->start();
    return true;
}

QString SignedInApp::takeShot(const QImage& image)
{
    const auto before = hub->shots().shots().size();
    hub->capture(image, QStringLiteral("test"));
    hub->shots().finishPending();
    return hub->shots().shots().size() > before ? hub->shots().shots().last().localPath : QString();
}
