#pragma once

#include <QWidget>

class QHBoxLayout;
class QLabel;
class QPushButton;
class StatusLabel;

// One machine in a list, `indent` pixels in: a mark, its name in a smaller font, a grey state and one
// button at the far end.
class DeviceRow : public QWidget {
public:
    DeviceRow(QWidget* mark, int indent, const char* stateName, const char* buttonName, QWidget* parent = nullptr);

    // Puts `widget` between the name and the state.
    void addAfterName(QWidget* widget);

    QLabel* name;
    StatusLabel* state;
    QPushButton* button;

private:
    QHBoxLayout* row;
};
