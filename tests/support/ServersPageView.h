#pragma once

#include "app/AppState.h"
#include "delivery/SSHSession.h"
#include "servers/ServerRegistry.h"
#include "support/PanelRig.h"
#include "support/TempDataDir.h"
#include "ui/panel/AddServerBox.h"
#include "ui/panel/PanelView.h"
#include "ui/panel/ServersPage.h"

#include <QSignalSpy>
#include <functional>
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

// The cases of a servers page test, each on a fresh hub: `open` fills a new rig and shows its panel on the
// servers page; `close`, the test's cleanup, stops the connections still running and drops both.
class ServersPageCases {
protected:
    TempDataDir data;
    std::unique_ptr<PanelRig> rig;
    std::unique_ptr<PanelView> view;

    AppState& app() { return rig->app(); }
    ServerRegistry& registry() { return app().registry(); }

    void open(const std::function<void(PanelRig&)>& fill = {})
    {
        view.reset();
        rig = std::make_unique<PanelRig>(data);
        if (fill)
            fill(*rig);
        view = openServersPage(rig->build());
    }

    void close()
    {
        if (rig)
            registry().cancelAll();
        view.reset();
        rig.reset();
    }
};
