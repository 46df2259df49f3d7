#pragma once

#include <QPushButton>

class OnScreen;
class QTimer;

// A push button that shows a small turning spinner before its text while busy; the spinner turns only while
// the button is on screen. Whether it is busy is the "busy" property; enabling stays with the caller.
class BusyButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(bool busy READ busy WRITE setBusy)
public:
    explicit BusyButton(const QString& text = QString(), QWidget* parent = nullptr);

    bool busy() const { return spinning; }
    void setBusy(bool on);
    // A wider, taller button for the main action of a card.
    void makeProminent(int labelWidth);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int spinnerSide() const;
    void followTicker();

    bool spinning = false;
    int angle = 0;
    int labelWidth = 0;
    QTimer* ticker;
    OnScreen* onScreen;
};
