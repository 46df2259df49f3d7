#include "ui/shell/PanelController.h"

#include "app/AppState.h"
#include "servers/ServerRegistry.h"
#include "ui/kit/InsideScreen.h"
#include "ui/kit/Parts.h"
#include "ui/panel/PanelView.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

PanelController::PanelController(AppState& app, QObject* parent)
    : QObject(parent), app(app), win(std::make_unique<KeptWindow>())
{
    win->setObjectName(QStringLiteral("panelWindow"));
    win->setWindowTitle(QStringLiteral("tarnel"));
    panelView = new PanelView(app, [this] { hide(); }, win.get());
    // At least this large, and larger when the header needs it.
    panelView->setLeastSize(QSize(minWidth, minHeight));
    win->resize(startWidth, startHeight);
    Parts::fill(*win, panelView);
    win->setFocusProxy(panelView);
    inside = new InsideScreen(*win);
}

PanelController::~PanelController() = default;

void PanelController::show(const std::optional<QRect>& anchor, std::optional<PanelTab> tab)
{
    if (!tab)
        tab = panelTabFrom(app.settings().lastPanelTab);
    if (!tab) {
        // The servers page until a plain server is listed (a linked machine alone does not count).
        const QList<Server>& servers = app.registry().servers();
        const bool noServer = std::none_of(servers.cbegin(), servers.cend(), [](const Server& s) { return !s.isDevice(); });
        tab = noServer ? PanelTab::servers : PanelTab::shots;
    }
    app.setPanelTab(*tab);
    bringToFront(*win, [&] { place(anchor); });
}

void PanelController::toggle(const std::optional<QRect>& anchor)
{
    if (win->isVisible() && win->isActiveWindow())
        hide();
    else
        show(anchor);
}

void PanelController::place(const std::optional<QRect>& anchor)
{
    const QScreen* screen = anchor ? QGuiApplication::screenAt(anchor->center()) : QGuiApplication::primaryScreen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    win->resize(win->size().expandedTo(win->minimumSizeHint()));
    const QSize size = inside->frameSize();
    QPoint topLeft(area.right() - size.width() - 12, area.top() + 12);
    if (anchor && anchor->isValid()) {
        // Below (or above, for a bottom panel) the tray icon.
        const bool trayAtBottom = anchor->center().y() > area.center().y();
        topLeft = QPoint(anchor->center().x() - size.width() / 2,
                         trayAtBottom ? anchor->top() - size.height() - 8 : anchor->bottom() + 8);
    }
    inside->place(topLeft, area);
}
