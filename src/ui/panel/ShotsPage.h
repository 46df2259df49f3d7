#pragma once

#include "state/Server.h"
#include "state/Shot.h"
#include "ui/panel/PanelContext.h"

#include <QHash>
#include <QStackedWidget>
#include <optional>

class KeyedCardGrid;
class PanelModel;
class QLabel;
class QPushButton;
class QScrollArea;
class ShotCard;
class StatusLabel;

// The shots page: every stored shot, newest first, as cards in two columns (built as they scroll into
// view), or the empty page with what to do first.
class ShotsPage : public QStackedWidget {
    Q_OBJECT
public:
    ShotsPage(PanelContext context, QWidget* parent = nullptr);

    void refresh(const PanelModel& model);
    KeyedCardGrid* grid() const { return cards; }
    ShotCard* card(const QString& shotName) const;

private:
    QWidget* buildEmptyPage();
    void fill(ShotCard* card, const QString& name) const;

    PanelContext context;
    QScrollArea* scroll;
    KeyedCardGrid* cards;
    QWidget* emptyPage;
    QWidget* inboundRow;
    StatusLabel* inboundText;
    StatusLabel* connectedHint;
    QPushButton* toServers;

    // Where each shot stood in the store's list at the last refresh, newest first. No copy of the list is
    // kept: a copy would make the store's next change copy every shot.
    void list(const QList<Shot>& shots);
    quint64 listedAt = 0;
    QStringList keys;
    QHash<QString, int> position;
    QList<Server> servers;
    std::optional<QUuid> defaultServerID;
    std::optional<QString> chosen;
};
