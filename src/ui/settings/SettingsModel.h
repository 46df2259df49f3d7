#pragma once

#include "account/Account.h"
#include "state/Server.h"
#include "state/Settings.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// Texts, bounds and write-back rules of the settings window, without widgets.
namespace SettingsModel {

// The four number settings changed by steppers.
enum class Stepper { shotBytes, dailyLimit, keepHours, dirBytes };

struct StepperRange {
    qint64 min = 0;
    qint64 max = 0;
};

StepperRange range(Stepper stepper);
qint64 value(Stepper stepper, const Settings& settings);
// "单张上限：5 MB", "保留：24 小时", …
QString label(Stepper stepper, const Settings& settings);
// The settings after one step up (+1) or down (-1), stopped at the range's bound.
Settings stepped(Stepper stepper, const Settings& settings, int direction);
bool canStep(Stepper stepper, const Settings& settings, int direction);

struct Choice {
    QString text;
    int value = 0;
};
// "压缩长边": 不压缩, 1600 px, 2560 px（推荐）, 3200 px.
QList<Choice> longSideChoices();
// "粘贴方式", in the order of PasteMode.
QList<std::pair<QString, PasteMode>> pasteModeChoices();

// One line per entry: split at every kind of line break, blanks and tabs trimmed, empty lines dropped.
QStringList lines(const QString& text);
// The settings with the typed token format, or none when it lacks "%d" or "%s".
std::optional<Settings> committedToken(const Settings& settings, const QString& typed);
// The settings with the typed remote folder (trimmed), or none when it is not a folder the installers take.
std::optional<Settings> committedRemoteDir(const Settings& settings, const QString& typed);

// The terminal list's caption, naming the paste hot key.
QString terminalCaption(const Settings& settings);
// The hot key as the desktop writes it, with the slot's fallback when the setting does not parse.
QString pasteKeyText(const Settings& settings);
QString panelKeyText(const Settings& settings);

// Why this copy sets up no login item (none when it does): only the installed bundle, on its own data
// folder, is started at login.
std::optional<QString> loginItemUnavailable(bool runsAsBundle, bool dataOverride);
// The same for the keep-alive agent (the systemd user service).
std::optional<QString> keepAliveUnavailable(bool runsAsBundle, bool dataOverride);

// The about page's account line: "账号 alice（Alice）", "账号 alice（已停用）", or "还没登录".
QString accountLine(const std::optional<AccountRecord>& record, Account::Status status);
QStringList safetyPromises();
// The uninstall text, naming the data folder in use.
QString uninstallText(const QString& dataDirectory);

} // namespace SettingsModel
