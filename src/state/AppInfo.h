#pragma once

#include <QString>

// Who this program is: version, build and whether it is the release bundle. Read from the bundle's
// info.json when there is one (the installed layout), else from the values compiled in.
struct AppInfo {
    QString identifier;
    QString version;
    QString build;

    qint64 buildNumber() const;     // `build` as a signed decimal, 0 when it is not one
    bool runsAsBundle() const;      // identifier exactly "com.tarnel.app"
    static bool launchedByAgent();  // TARNEL_LAUNCHD_AGENT == "1"
    static bool showMainForced();   // TARNEL_SHOW_MAIN == "1"

    static const AppInfo& current();
    // For a given bundle folder (the one holding bin/ and info.json).
    static AppInfo fromBundle(const QString& bundleDir);
};
