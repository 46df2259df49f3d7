#pragma once

#include "link/LinkStatus.h"

#include <QDialog>

class LinkManager;
class QLabel;
class QPushButton;
class QToolButton;
class StatusLabel;
struct DeviceCommands;

// Lets another machine log in to this one with its own key: hands the user the shell line that appends
// that key to ~/.ssh/authorized_keys, and ticks itself off when the device link finds the key there.
class KeyAddSheet : public QDialog {
    Q_OBJECT
public:
    KeyAddSheet(const PeerDevice& peer, LinkManager& link, const DeviceCommands& commands, QWidget* parent = nullptr);

    const PeerDevice& peer() const { return who; }
    void refresh();
    // The line that goes on the clipboard (the command and one line feed).
    QString copiedText() const;

    QPushButton* copyButton() const { return copy; }
    QPushButton* closeButton() const { return closer; }
    bool done() const;

private:
    void copyCommand();

    PeerDevice who;
    LinkManager& link;
    const DeviceCommands& commands;
    bool copied = false;

    QWidget* doneBox;
    QWidget* stepsBox;
    QPushButton* copy;
    QPushButton* terminal;
    QToolButton* reveal;
    StatusLabel* commandText;
    StatusLabel* commentText;
    QPushButton* closer;
};
