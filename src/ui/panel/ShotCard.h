#pragma once

#include "state/Server.h"
#include "state/Shot.h"

#include <QFrame>
#include <QList>
#include <functional>
#include <optional>

class AppState;
class Badge;
class ElidedLabel;
class QGraphicsOpacityEffect;
class QHBoxLayout;
class QLabel;
class QToolButton;
class StatusLabel;
class ThumbnailCache;
class ThumbnailView;

// One cell of the shots grid: the shot's picture with a badge for the chosen or newest shot, the path a
// paste would type, time, size, one upload mark per destination and the counts, and the actions (choose
// for the next paste, view, copy the path, send to the destinations that miss it, delete). A card keeps
// its widgets for as long as its shot is listed; `setContent` only changes what differs.
class ShotCard : public QFrame {
    Q_OBJECT
    Q_PROPERTY(bool selected READ isSelected)
public:
    static constexpr int radius = 12;
    static constexpr int thumbnailHeight = 150;

    ShotCard(AppState& app, ThumbnailCache& thumbnails, std::function<void()> closePanel, QWidget* parent = nullptr);

    void setContent(const Shot& shot, const QList<Server>& servers, const std::optional<QUuid>& defaultServerID,
              bool selected, bool latest);
    const Shot& shot() const { return current; }
    bool isSelected() const { return selected; }
    QString displayPath() const { return path; }
    ThumbnailView* thumbnail() const { return picture; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QToolButton* addAction(const char* name, const QString& text, QHBoxLayout* row);
    void setMarkCount(int count);
    // Shows the status items that fit in one line, whole and in order. When some do not fit, failed
    // uploads keep their place first, then the counts, then the other marks; "+N" stands for the rest.
    void fitStatusLine();
    void toggleChoice();

    AppState& app;
    std::function<void()> closePanel;
    Shot current;
    QString path;
    bool selected = false;

    ThumbnailView* picture;
    Badge* badge;
    QLabel* number;
    ElidedLabel* pathLabel;
    QWidget* titleRow;
    StatusLabel* time;
    StatusLabel* size;
    QHBoxLayout* statusRow;
    QList<StatusLabel*> marks;
    StatusLabel* pasted;
    StatusLabel* updated;
    StatusLabel* more;
    QWidget* statusLine;
    bool showsPasted = false;
    bool showsUpdated = false;
    QToolButton* selectButton;
    QGraphicsOpacityEffect* actionsOpacity;
};
