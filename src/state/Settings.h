#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QStringList>
#include <QUuid>
#include <optional>

// How a shot reference reaches the terminal. zeroPermission needs no typing permission: it only copies.
enum class PasteMode { type, clipboard, zeroPermission };

QString pasteModeName(PasteMode mode);
std::optional<PasteMode> pasteModeFromName(const QString& name);

// The user's preferences (settings.json). Every field is optional on disk and takes its default here.
struct Settings {
    QString hotkeyPaste = QStringLiteral("⌥⌘3");
    QString hotkeyPanel = QStringLiteral("⌥⌘4");
    int maxLongSide = 2560;              // pixels, 0 = no reduction
    qint64 maxShotBytes = 5'000'000;
    int dailyLimit = 500;
    int keepHours = 24;
    qint64 maxDirBytes = 200'000'000;
    PasteMode pasteMode = PasteMode::type;
    QString tokenFormat = defaultTokenFormat();
    QStringList terminalBundleIDs = defaultTerminals(); // X11 window classes
    QStringList localTitlePatterns;                     // regular expressions
    bool resetSeqOnClear = false;
    bool saveWhenNoServer = true;
    bool launchAtLogin = true;
    bool keepAliveAgent = false;
    std::optional<QUuid> defaultServerID;
    QString defaultRemoteDir = QStringLiteral("~/tarnel");
    QString deviceRemoteDir = QStringLiteral("~/tarnel");
    bool onboardingDone = false;
    bool launchDecided = false;
    std::optional<QDateTime> keepAliveStamp;
    bool remoteAccess = false;
    bool updateChannelTest = false;
    QString onboardingTarget;  // "", "server", "device" or "none"
    QString lastPanelTab;      // "", "shots", "servers" or "devices"

    // The widest retention a settings file may ask for (larger values are brought down to these).
    static constexpr int mostShotsPerDay = 2000;
    static constexpr int mostKeepHours = 24 * 365;
    // The most shot records the retention bounds can keep: every day of the widest window at the daily
    // limit, one more day since the window starts within a day.
    static constexpr qint64 mostShotsKept = qint64(mostShotsPerDay) * (mostKeepHours / 24 + 1);

    static QString defaultTokenFormat() { return QStringLiteral("shot%d: %s "); }
    static QStringList defaultTerminals();

    // Lenient: missing or mistyped keys take their defaults; hand-edited values are brought into range.
    static Settings fromJson(const QJsonObject& o);
    QJsonObject toJson() const;

    bool operator==(const Settings&) const = default;
};
