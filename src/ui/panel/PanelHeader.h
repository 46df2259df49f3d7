#pragma once

#include "app/PanelTab.h"
#include "ui/panel/PanelContext.h"

#include <QWidget>

class PanelModel;
class PasteHint;
class QStackedWidget;
class QToolButton;
class SegmentedControl;
class StatusDot;
class StatusLabel;

// The panel's top row: the page picker with its counts, the status area of the page shown (listening
// status, paste hint, pause, clear and folder on the shots page; the connected count and "reconnect all"
// on the servers page; the link summary on the devices page) and the help, feedback and settings buttons.
class PanelHeader : public QWidget {
    Q_OBJECT
public:
    PanelHeader(PanelContext context, QWidget* parent = nullptr);

    void refresh(const PanelModel& model, PanelTab tab);

private:
    QWidget* buildShotsStatus();
    QWidget* buildServersStatus();
    QWidget* buildDevicesStatus();
    QToolButton* iconButton(const char* name, const QString& symbol, const QString& tooltip);
    void openShotsFolder();

    PanelContext context;
    SegmentedControl* picker;
    QStackedWidget* status;
    StatusDot* dot;
    StatusLabel* statusText;
    PasteHint* hint;
    QToolButton* pauseButton;
    StatusLabel* serversText;
    StatusLabel* devicesText;
};
