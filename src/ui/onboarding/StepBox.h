#pragma once

#include <QFrame>

class QGraphicsOpacityEffect;
class QLabel;
class QVBoxLayout;

// The frame of one onboarding step: a round badge (green tick when done, the number in the accent colour
// when active, else grey), the title, and the step's content, shown only while the step is expanded. The
// active step lies on a faint accent fill; a collapsed one is drawn faded. The states are properties.
class StepBox : public QFrame {
    Q_OBJECT
    Q_PROPERTY(bool done READ done)
    Q_PROPERTY(bool active READ active)
    Q_PROPERTY(bool expanded READ expanded)
    Q_PROPERTY(qreal opacity READ opacity)
public:
    StepBox(int number, QWidget* parent = nullptr);

    // Where the step's content goes.
    QVBoxLayout* content() const { return body; }
    void setTitle(const QString& title);
    QString title() const;
    void setState(bool done, bool active, bool expanded);

    bool done() const { return isDone; }
    bool active() const { return isActive; }
    bool expanded() const { return isExpanded; }
    // How opaque the whole frame is drawn: 1 expanded, 0.6 collapsed.
    qreal opacity() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    class Badge;

    int number;
    bool isDone = false, isActive = false, isExpanded = true;
    Badge* badge;
    QLabel* heading;
    QWidget* contentArea;
    QVBoxLayout* body;
    QGraphicsOpacityEffect* fade;
};
