#pragma once

#include "ui/panel/PanelContext.h"
#include "ui/panel/ServersPageModel.h"

#include <QWidget>

class AddServerBox;
class ElidedLabel;
class KeyedWidgetList;
class QLabel;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class ServerCard;
class StatusLabel;

// The servers page: the onboarding or accessibility bar, the add box, one card per listed server (kept
// by id) or the empty page, and the footer with the counts.
class ServersPage : public QWidget {
    Q_OBJECT
public:
    ServersPage(PanelContext context, QWidget* parent = nullptr);

    void refresh();
    ServersPageFacts facts() const;
    // Return outside a text field: the first visible, enabled button of the bar, else "连接".
    void pressDefault();

    AddServerBox* addBox() const { return box; }
    ServerCard* card(const QUuid& id) const;
    KeyedWidgetList* list() const { return cards; }

    // Opens the advanced sheet of a server (the page's host sets it; none means the sheet is not offered).
    std::function<void(const QUuid&)> openAdvanced;

private:
    QWidget* buildOnboardingBar();
    QWidget* buildAccessibilityBar();
    QWidget* buildEmptyState();

    PanelContext context;
    QWidget* onboardingBar;
    QWidget* accessibilityBar;
    QWidget* barDivider;
    QPushButton* onboardingButton;
    StatusLabel* accessibilityText;
    QPushButton* zeroPermissionButton;
    AddServerBox* box;
    QStackedWidget* body;
    QScrollArea* scroll;
    KeyedWidgetList* cards;
    QWidget* empty;
    QLabel* footerSymbol;
    ElidedLabel* footer;
    StatusLabel* version;
};
