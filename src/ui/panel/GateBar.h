#pragma once

#include "ui/panel/PanelContext.h"

#include <QWidget>
#include <optional>

struct GateBarLook;
class QLabel;
class QPushButton;
class StatusLabel;

// The orange bar under the header while the account gate is closed: why, what that stops, and the way to
// the login window.
class GateBar : public QWidget {
    Q_OBJECT
public:
    GateBar(PanelContext context, QWidget* parent = nullptr);

    // Hidden when there is nothing to say.
    void refresh(const std::optional<GateBarLook>& look);
    QPushButton* button() const { return action; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PanelContext context;
    QLabel* symbol;
    QString shownSymbol;
    StatusLabel* text;
    QPushButton* action;
};
