#pragma once

#include "state/Outcome.h"

#include <QString>

// The pure parts of the devices page's sheets.
class DeviceSheetsModel {
public:
    // The comment of a public key line (its third word on), "tarnel@…" when it has none.
    static QString keyComment(const QString& keyLine);
    // The shell line that puts `Include "<path>"` at the top of ~/.ssh/config, without a final line feed;
    // a failure when ssh_config cannot name the path.
    static Outcome<QString> includeCommand(const QString& devicesConfigPath);
    // A single-quoted shell word.
    static QString shellQuoted(const QString& text);

    // The alias field keeps lower case: the text and where the cursor goes.
    struct Typed {
        QString text;
        int cursor = 0;
        bool operator==(const Typed&) const = default;
    };
    static Typed lowerAlias(const QString& text, int cursor);
};
