#pragma once

#include "delivery/HotkeyCenter.h"

#include <QWidget>

class AppState;
class QKeyEvent;
class QLabel;
class QPushButton;
class StatusLabel;

// One hot key of the hot-key page: its title, the current combination, "改…" to record a new one and a
// hint line. While recording, the global hot keys are off and an application-wide filter takes every key
// press (shortcuts, Return and Escape of the window included): Escape ends without change, an accepted
// combination is stored, anything else shows the hint; modifier keys alone are passed over. Hiding the row
// (the window or the page) ends the recording.
class HotkeyRecorderRow : public QWidget {
    Q_OBJECT
public:
    HotkeyRecorderRow(AppState& app, HotkeyCenter::Key slot, const QString& title, QWidget* parent = nullptr);
    ~HotkeyRecorderRow() override;

    void start();
    void stop();
    bool recording() const { return isRecording; }
    QString hint() const;
    void refresh();

    QPushButton* button() const { return toggle; }
    QLabel* valueLabel() const { return value; }

Q_SIGNALS:
    void started();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void take(const QKeyEvent& press);
    QString stored() const;
    void store(const QString& text);

    AppState& app;
    HotkeyCenter::Key slot;
    bool isRecording = false;
    QLabel* value;
    QPushButton* toggle;
    StatusLabel* hintLine;
};
