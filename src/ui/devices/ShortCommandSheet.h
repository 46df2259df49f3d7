#pragma once

#include "state/Outcome.h"

#include <QDialog>

class LinkManager;
class QPushButton;
class QToolButton;
class StatusLabel;
struct DeviceCommands;

// Makes "ssh <alias>" work in any terminal: hands the user the shell line that puts an Include of the
// device ssh configuration at the top of ~/.ssh/config, and shows when the device link finds it there.
class ShortCommandSheet : public QDialog {
    Q_OBJECT
public:
    ShortCommandSheet(LinkManager& link, const DeviceCommands& commands, QWidget* parent = nullptr);

    void refresh();
    // The command and one line feed, or why there is none.
    Outcome<QString> copiedText() const;

    QPushButton* copyButton() const { return copy; }
    QPushButton* closeButton() const { return closer; }

private:
    void copyCommand();

    LinkManager& link;
    const DeviceCommands& commands;
    bool copied = false;

    QWidget* fixedBox;
    QWidget* stepsBox;
    QPushButton* copy;
    StatusLabel* refusal;
    QToolButton* reveal;
    StatusLabel* commandText;
    QPushButton* closer;
};
