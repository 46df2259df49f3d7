#pragma once

#include "state/Outcome.h"

#include <QString>
#include <optional>

// Fills the install templates. Every value is checked before it goes into the script; a failure carries a
// ready message.
class InstallScript {
public:
    struct Params {
        QString remoteDir;   // "~/tarnel" or an absolute path
        QString publicLine;  // "ssh-ed25519 <base64> tarnel@<name>"
        QString comment;     // "tarnel@<name>"
    };

    // install.sh: receiver, marker, restricted key line.
    static Outcome<QString> render(const Params& params, const std::optional<QString>& templateText,
        const std::optional<QString>& receiver);

    // install-device.sh: only the receiver; the peer's ~/.ssh is not touched.
    static Outcome<QString> renderDevice(const QString& base, const std::optional<QString>& templateText,
        const std::optional<QString>& receiver);

    struct Installed {
        qint64 receiverVersion = 0;
        QString base;  // the resolved base folder
    };
    // Reads "TARNEL_INSTALL_OK <version> <base>" (the base is the whole rest of the line) or
    // "TARNEL_INSTALL_FAIL <reason>"; none without either line.
    static std::optional<Outcome<Installed>> parse(const QString& output);

    static bool isPublicLine(const QString& line);
    static bool isComment(const QString& comment);
    // The base64 field of a public line ("" when the line has none).
    static QString keyData(const QString& publicLine);
};
