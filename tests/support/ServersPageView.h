#pragma once

#include "app/AppState.h"
#include "delivery/SSHSession.h"
#include "ui/panel/AddServerBox.h"
#include "ui/panel/PanelView.h"
#include "ui/panel/ServersPage.h"

#include <QSignalSpy>
#include <memory>

// The panel shown on its servers page over a built hub, onboarding done, with the live-session scan
// answering `sessions` (the first scan is awaited): for the servers page's widget tests and screenshots.
// Header only: the support library has no widgets.
inline std::unique_ptr<PanelView> openServersPage(AppState& app, const QList<SSHSession>& sessions = {})
{
    Settings s = app.settings();
    s.onboardingDone = true;
    app.setSettings(s);
    app.setPanelTab(PanelTab::servers);
    auto view = std::make_unique<PanelView>(app, [] {});
    AddServerBox* box = view->serversPage()->addBox();
    box->setScan([sessions] { return sessions; });
    view->resize(460, 640);
    QSignalSpy scanned(box, &AddServerBox::scanned);
    view->show();
    scanned.wait(5000);
    view->flush();
    return view;
}
