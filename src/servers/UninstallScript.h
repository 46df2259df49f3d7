#pragma once

#include "state/Outcome.h"

#include <QString>
#include <optional>

// Fills uninstall.sh: removes this machine's key line and the receiver, and with purge the files tarnel
// put into the remote directory.
class UninstallScript {
public:
    // `keyData` is the base64 field of this machine's public key; when it is unknown (the key file is gone)
    // no line is removed, as a comment is shared by every machine of that name. Without `revokeKey` (a linked machine, whose keys belong to the
    // device link) authorized_keys is not touched.
    static Outcome<QString> render(const QString& base, const QString& comment, const QString& keyData, bool purge,
        const std::optional<QString>& templateText, bool revokeKey = true);

    struct Result {
        int removedLines = 0;
        bool purged = false;
    };
    // Reads "TARNEL_UNINSTALL_OK <n> <0|1>" or "TARNEL_UNINSTALL_FAIL <reason>" from the script's output.
    static Outcome<Result> parse(const QString& output);
};
