#pragma once

#include <QString>
#include <optional>

// The program's only command line: the first argument, when it starts with "--", is answered on
// standard output and the process ends with status 0. Decided before Qt starts.
class CommandLine {
public:
    // The text to print and exit with, or none to start the application.
    static std::optional<QString> answer(int argc, char** argv);
    static QString helpText();
};
