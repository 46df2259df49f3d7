#pragma once

#include <QString>

// The program's diagnostics: one timestamped line per event on standard output, written through at once.
// The app appends the program's output to its own log file; this side never opens or rotates it.
namespace NetLog {
void line(const QString& text);
}
