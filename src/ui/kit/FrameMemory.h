#pragma once

#include <QObject>
#include <QString>

class QScreen;
class QWidget;

// Remembers a window's frame, under its frame name, in windows.json of the data directory: the window's
// saveGeometry() and the name of its screen, written each time the window is hidden and when the
// application quits. place() gives the window its saved size and centres it, on its saved screen while
// a screen of that name exists, otherwise (and the first time) on its own screen.
class FrameMemory : public QObject {
    Q_OBJECT
public:
    FrameMemory(QWidget& window, const QString& name);

    void place();
    // Brings the window to the front, centred first when it was hidden.
    void present();
    // Writes where the window stands now.
    void save();

    static QString fileName() { return QStringLiteral("windows.json"); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The saved frame put back; the screen it was on, none when nothing was put back.
    QScreen* restore();

    QWidget& window;
    QString name;
};
