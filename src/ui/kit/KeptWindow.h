#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

class QScreen;

// Centres `window` on `screen`, else on its own screen (the primary one before it has a screen).
void centreOnScreen(QWidget& window, QScreen* screen = nullptr);
// Shows `window`, raises and activates it; a hidden window is first put in place by `place`.
void bringToFront(QWidget& window, const std::function<void()>& place);

// A top-level window made once and kept for the life of the process: closing it only hides it, so
// what it shows survives until it is opened again.
class KeptWindow : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    // A fixed-size window with a title and minimise and close buttons.
    void setFixedFrame(const QString& name, const QString& title, QSize size);
    // Brings it to the front, centred on its screen when it was hidden.
    void present();
    // A fixed frame that grows taller while `content` needs more height at the fixed width (a long error
    // text), and is back at its own height when it needs less.
    void growTallerFor(QWidget* content);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    QPointer<QWidget> growing;
    int ownHeight = 0;
};
