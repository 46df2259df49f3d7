#pragma once

#include <QWidget>

class AppState;
class HotkeyRecorderRow;

// The hot-key page: the recorder rows of the paste and panel hot keys; one records at a time.
class HotkeySettings : public QWidget {
    Q_OBJECT
public:
    explicit HotkeySettings(AppState& app, QWidget* parent = nullptr);

    HotkeyRecorderRow* pasteRow() const { return paste; }
    HotkeyRecorderRow* panelRow() const { return panel; }

private:
    HotkeyRecorderRow* paste;
    HotkeyRecorderRow* panel;
};
