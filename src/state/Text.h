#pragma once

#include <QString>

// Spaces and tabs off both ends of typed text; line breaks and other white space stay.
QString trimBlanks(const QString& text);
