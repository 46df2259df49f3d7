#pragma once

#include <QHash>
#include <QUuid>
#include <QWidget>

class FeedbackModel;
class QHBoxLayout;
class QMimeData;
class QPushButton;
class StatusLabel;

// The attachment row of the feedback form: one thumbnail per image (with its remove button), the
// "加截图" tile, the newest-shot button and the hint. The whole area takes dropped images and image files.
class AttachmentArea : public QWidget {
    Q_OBJECT
public:
    explicit AttachmentArea(FeedbackModel& model, QWidget* parent = nullptr);

    // The newest shot's number, or none when the shot store is empty.
    void setNewestShot(std::optional<qint64> number);
    void refresh();
    bool dropTargeted() const { return hovering; }

    // Hands images or image files of a drop or paste to the model.
    static bool load(FeedbackModel& model, const QMimeData* mime);
    static bool offersImages(const QMimeData* mime);

Q_SIGNALS:
    void pickRequested();
    void newestShotRequested();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void setHovering(bool on);

    FeedbackModel& model;
    QHBoxLayout* row;
    QHash<QUuid, QWidget*> cells;
    QList<QUuid> order;
    QWidget* addTile;
    QPushButton* newestButton;
    std::optional<qint64> newest;
    bool hovering = false;
};
