#include "ui/shell/PanelController.h"

#include "app/AppState.h"
#include "capture/ShotStore.h"
#include "state/Clock.h"
#include "servers/ServerRegistry.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>

void PanelWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    hide();
}

PanelController::PanelController(AppState& app, QObject* parent)
    : QObject(parent), app(app), win(std::make_unique<PanelWindow>()), pages(new QTabWidget(win.get()))
{
    win->setObjectName(QStringLiteral("panelWindow"));
    win->setWindowTitle(QStringLiteral("tarnel"));
    win->setMinimumSize(minWidth, minHeight);
    pages->setObjectName(QStringLiteral("panelPages"));
    // The pages' own views are added by their windows; the picker is here from the start.
    for (const char* name : {"shotsPage", "serversPage", "devicesPage"}) {
        auto* page = new QWidget(pages);
        page->setObjectName(QString::fromLatin1(name));
        pages->addTab(page, QString());
    }
    auto* layout = new QVBoxLayout(win.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pages);
    connect(pages, &QTabWidget::currentChanged, this, [this](int index) {
        const auto tab = PanelTab(index);
        if (this->app.panelTab() != tab)
            this->app.setPanelTab(tab);
    });
    connect(&app, &AppState::changed, this, &PanelController::refresh);
    refresh();
}

PanelController::~PanelController() = default;

void PanelController::refresh()
{
    int servers = 0;
    for (const Server& s : app.registry().servers())
        if (!s.deviceID)
            ++servers;
    pages->setTabText(0, QStringLiteral("截图 %1").arg(app.shots().todayCount(Clock::instance().now())));
    pages->setTabText(1, QStringLiteral("服务器 %1").arg(servers));
    pages->setTabText(2, QStringLiteral("设备 %1").arg(0));
    if (pages->currentIndex() != int(app.panelTab()))
        pages->setCurrentIndex(int(app.panelTab()));
}

void PanelController::show(const std::optional<QRect>& anchor, std::optional<PanelTab> tab)
{
    if (!tab)
        tab = panelTabFrom(app.settings().lastPanelTab);
    if (!tab)
        tab = app.registry().servers().isEmpty() ? PanelTab::servers : PanelTab::shots;
    app.setPanelTab(*tab);
    if (!win->isVisible())
        place(anchor);
    win->show();
    win->raise();
    win->activateWindow();
}

void PanelController::hide() { win->hide(); }

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
    const QSize size = win->size().expandedTo(QSize(minWidth, minHeight));
    QPoint topLeft(area.right() - size.width() - 12, area.top() + 12);
    if (anchor && anchor->isValid()) {
        // Below (or above, for a bottom panel) the tray icon, kept on screen.
        const bool trayAtBottom = anchor->center().y() > area.center().y();
        topLeft = QPoint(anchor->center().x() - size.width() / 2,
                         trayAtBottom ? anchor->top() - size.height() - 8 : anchor->bottom() + 8);
        topLeft.setX(std::clamp(topLeft.x(), area.left(), area.right() - size.width()));
        topLeft.setY(std::clamp(topLeft.y(), area.top(), area.bottom() - size.height()));
    }
    win->move(topLeft);
}
