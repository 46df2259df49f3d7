#pragma once

#include <QString>

// A failed server operation. A message that begins with "NEEDS_PASSWORD:" asks the user for a login name
// or password; the marker is never shown.
struct FlowError {
    QString message;

    static QString marker() { return QStringLiteral("NEEDS_PASSWORD:"); }
    static FlowError needingPassword(const QString& text) { return {marker() + text}; }

    bool needsPassword() const { return message.startsWith(marker()); }
    QString shownText() const { return QString(message).remove(marker()); }
};
