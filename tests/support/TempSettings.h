#pragma once

#include <QTemporaryDir>

// Points the application's QSettings at a private folder for one test process, so tests never read or
// write the user's own settings. Create it before anything uses QSettings.
class TempSettings {
public:
    TempSettings() { qputenv("XDG_CONFIG_HOME", dir.path().toUtf8()); }
    QString path() const { return dir.path(); }

private:
    QTemporaryDir dir;
};
