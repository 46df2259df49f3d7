#pragma once

#include "state/Outcome.h"

#include <QString>
#include <QStringList>
#include <optional>

// Opens a command in a new terminal window: writes connect/<alias>.command (a small sh script) into the
// data directory and starts the desktop's terminal on it. Terminals, in order: x-terminal-emulator, then
// $TERMINAL, then gnome-terminal, konsole, xfce4-terminal, xterm.
class TerminalLauncher {
public:
    struct Terminal {
        QString program;
        QString name; // the program's base name: decides how title and script are passed
    };

    // `command` is the program and its arguments; each is single-quoted in the script. `searchPaths`
    // replaces PATH for finding a terminal (tests).
    static Outcome<> open(const QStringList& command, const QString& alias, const QString& title,
        const QStringList& searchPaths = {});
    // Starts the terminal with no arguments; false when there is none.
    static bool openApp(const QStringList& searchPaths = {});

    static std::optional<Terminal> find(const QStringList& searchPaths = {});
    static QString scriptText(const QStringList& command, const QString& title);
    // The argument list that runs `script` in `terminal` under `title`.
    static QStringList launchArguments(const Terminal& terminal, const QString& title, const QString& script);
    // One shell word: left as it is when it holds only safe characters, else between single quotes.
    static QString shellWord(const QString& text);
};
