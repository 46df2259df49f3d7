#pragma once

#include "app/PanelTab.h"

#include <QObject>
#include <QRect>
#include <QWidget>
#include <memory>
#include <optional>

class AppState;
class PanelView;

// The panel window: created once, closing only hides it.
class PanelWindow : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

protected:
    void closeEvent(QCloseEvent* event) override;
};

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
    void hide();
    // Hides it when it is in front; otherwise shows it.
    void toggle(const std::optional<QRect>& anchor = std::nullopt);
    QWidget* window() const { return win.get(); }
    PanelView* view() const { return panelView; }

private:
    void place(const std::optional<QRect>& anchor);

    AppState& app;
    std::unique_ptr<PanelWindow> win;
    PanelView* panelView;
};
