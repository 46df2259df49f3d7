#pragma once

#include <QString>

// Who this program is: version, build and whether it runs as the installed bundle. A bundle is a folder
// named tarnel.app holding info.json beside bin/tarnel; a program anywhere else (the build tree) is not
// one and takes the defaults.
struct AppInfo {
    QString identifier; // empty when not a bundle
    QString version = QStringLiteral("0.1.0-dev");
    QString build = QStringLiteral("0");
    QString bundlePath; // the tarnel.app folder, empty when not a bundle

    qint64 buildNumber() const;     // `build` as a signed decimal, 0 when it is not one
    bool runsAsBundle() const;      // from a bundle whose identifier is exactly "com.tarnel.app"
    static bool launchedByAgent();  // TARNEL_LAUNCHD_AGENT == "1"
    static bool showMainForced();   // TARNEL_SHOW_MAIN == "1"

    // Of this process's executable.
    static const AppInfo& current();
    // The bundle, if any, is the parent of the executable's folder.
    static AppInfo forExecutable(const QString& executablePath);
    // A tarnel.app folder; the defaults when the folder is named otherwise or its info.json is missing or
    // not a JSON object.
    static AppInfo fromBundle(const QString& bundleDir);
};
