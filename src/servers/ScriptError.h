#pragma once

#include <QString>

// Why a server script could not be rendered; the message is ready to show.
struct ScriptError {
    QString message;
};
