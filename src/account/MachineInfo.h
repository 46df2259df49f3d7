#pragma once

#include <QString>

// Describes this computer in check-ins and feedback. Read anew on every call.
class MachineInfo {
public:
    // os-release NAME and a three-part version, e.g. "Debian GNU/Linux 12.11.0": one text for check-ins,
    // feedback and the feedback form's summary, which shows what is sent.
    static QString system();
    // The hardware product name from DMI; empty when it cannot be read.
    static QString model();

    // Physical memory in bytes; 0 when unknown.
    static qint64 memoryBytes();
    // Whole GiB, rounded down, as "16 GB".
    static QString memoryText(qint64 bytes);

    // The rule behind system(), over the texts of /etc/os-release and /etc/debian_version (may be empty).
    static QString systemFrom(const QString& osRelease, const QString& debianVersion);
    // "12.11" -> "12.11.0"; pieces that are not numbers are dropped, missing ones are 0.
    static QString threePartVersion(const QString& text);
};
