#pragma once

#include <QObject>
#include <QString>

class QWidget;

// Remembers where a window stood, under its frame name, in windows.json of the data directory: the
// window's saveGeometry() and the name of its screen, written each time the window is hidden and when
// the application quits. place() puts the window back there only while a screen of that name exists;
// otherwise (and the first time) it centres the window on its screen.
class FrameMemory : public QObject {
    Q_OBJECT
public:
    FrameMemory(QWidget& window, const QString& name);

    void place();
    // Brings the window to the front, put in place first when it was hidden.
    void present();
    // Writes where the window stands now.
    void save();

    static QString fileName() { return QStringLiteral("windows.json"); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool restore();

    QWidget& window;
    QString name;
};
