#pragma once

#include "ui/kit/Sheet.h"

#include <vector>

class Clipboard;
class QPushButton;
class QToolButton;
class StatusLabel;
struct DeviceCommands;

// A sheet that hands the user one shell line to paste into a terminal: a green note once it is done,
// otherwise the steps (copy the line, open a terminal, paste), a fold with the line itself and a close button.
class CommandSheet : public Sheet {
    Q_OBJECT
public:
    QPushButton* copyButton() const { return copy; }
    QPushButton* closeButton() const { return closer; }

protected:
    CommandSheet(const char* name, const QString& windowTitle, int width, const DeviceCommands& commands,
        Clipboard& clipboard, QWidget* parent);

    // The green note shown once the line has done its work, and how to undo it.
    void addDoneNote(const QString& text, const QString& undo);
    // The box of steps under an introduction, `spacing` apart; what goes in it goes in `steps`.
    void addSteps(int spacing, const QString& intro);
    // Step one copies the line; step two opens a terminal and says what to paste.
    void addCopyAndTerminalSteps(const char* copyName, const QString& copyNote, const QString& pasteNote);
    // The fold that shows the line in a fixed-width font, with `extras` shown and hidden along with it.
    void addReveal(const QString& label, const char* textName, std::vector<QWidget*> extras = {});
    void addCloser();
    // Shows the done note or the steps, and names the buttons to match.
    void showState(bool done, bool canCopy);
    // Puts `text` on the clipboard and marks the copy button.
    void copyToClipboard(const QString& text);
    virtual void copyCommand() = 0;

    const DeviceCommands& commands;
    Clipboard& clipboard;
    QWidget* doneBox = nullptr;
    QWidget* stepsBox = nullptr;
    QVBoxLayout* steps = nullptr;
    QPushButton* copy = nullptr;
    QToolButton* reveal = nullptr;
    StatusLabel* commandText = nullptr;
    QPushButton* closer = nullptr;

private:
    bool copied = false;
};
