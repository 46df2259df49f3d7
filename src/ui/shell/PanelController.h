#pragma once

#include "app/PanelTab.h"
#include "ui/kit/KeptWindow.h"

#include <QObject>
#include <QRect>
#include <memory>
#include <optional>

class AppState;
class InsideScreen;
class PanelView;

class PanelController : public QObject {
    Q_OBJECT
public:
    static constexpr int minWidth = 760;
    static constexpr int minHeight = 520;
    static constexpr int startWidth = 860;
    static constexpr int startHeight = 620;

    explicit PanelController(AppState& app, QObject* parent = nullptr);
    ~PanelController() override;

    // Opens on `tab`, else the page last shown, else the preferred one; near `anchor` when given.
    void show(const std::optional<QRect>& anchor = std::nullopt, std::optional<PanelTab> tab = std::nullopt);
    void hide() { win->hide(); }
    // Hides it when it is in front; otherwise shows it.
    void toggle(const std::optional<QRect>& anchor = std::nullopt);
    QWidget* window() const { return win.get(); }
    PanelView* view() const { return panelView; }

private:
    void place(const std::optional<QRect>& anchor);

    AppState& app;
    std::unique_ptr<KeptWindow> win;
    PanelView* panelView;
    InsideScreen* inside;
};
