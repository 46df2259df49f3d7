#include "state/Settings.h"

#include "state/Json.h"

#include <algorithm>

QString pasteModeName(PasteMode mode)
{
    switch (mode) {
    case PasteMode::type: return QStringLiteral("type");
    case PasteMode::clipboard: return QStringLiteral("clipboard");
    case PasteMode::zeroPermission: return QStringLiteral("zeroPermission");
    }
    return QStringLiteral("type");
}

std::optional<PasteMode> pasteModeFromName(const QString& name)
{
    for (PasteMode mode : {PasteMode::type, PasteMode::clipboard, PasteMode::zeroPermission})
        if (pasteModeName(mode) == name)
            return mode;
    return std::nullopt;
}

QStringList Settings::defaultTerminals()
{
    return {QStringLiteral("gnome-terminal-server"), QStringLiteral("org.gnome.Terminal"),
            QStringLiteral("org.gnome.Console"), QStringLiteral("konsole"), QStringLiteral("xterm"),
            QStringLiteral("uxterm"), QStringLiteral("kitty"), QStringLiteral("Alacritty"),
            QStringLiteral("org.wezfurlong.wezterm"), QStringLiteral("tilix"), QStringLiteral("terminator"),
            QStringLiteral("xfce4-terminal"), QStringLiteral("mate-terminal"), QStringLiteral("lxterminal"),
            QStringLiteral("qterminal"), QStringLiteral("terminology"), QStringLiteral("foot"),
            QStringLiteral("urxvt"), QStringLiteral("st"), QStringLiteral("ghostty")};
}

namespace {
constexpr qint64 MB = 1'000'000;

template <typename T> T clamped(T value, T low, T high) { return std::clamp(value, low, high); }

QString oneOf(const QString& value, std::initializer_list<const char*> allowed)
{
    for (const char* a : allowed)
        if (value == QLatin1String(a))
            return value;
    return {};
}
} // namespace

Settings Settings::fromJson(const QJsonObject& o)
{
    Settings s;
    s.hotkeyPaste = Json::string(o, QStringLiteral("hotkeyPaste"), s.hotkeyPaste);
    s.hotkeyPanel = Json::string(o, QStringLiteral("hotkeyPanel"), s.hotkeyPanel);
    s.maxLongSide = int(clamped<qint64>(Json::integer(o, QStringLiteral("maxLongSide"), s.maxLongSide), 0, 20000));
    s.maxShotBytes = clamped(Json::integer(o, QStringLiteral("maxShotBytes"), s.maxShotBytes), 1 * MB, 8 * MB);
    s.dailyLimit = int(clamped<qint64>(Json::integer(o, QStringLiteral("dailyLimit"), s.dailyLimit), 50, mostShotsPerDay));
    s.keepHours = int(clamped<qint64>(Json::integer(o, QStringLiteral("keepHours"), s.keepHours), 1, mostKeepHours));
    s.maxDirBytes = clamped(Json::integer(o, QStringLiteral("maxDirBytes"), s.maxDirBytes), 50 * MB, 2000 * MB);
    s.pasteMode = pasteModeFromName(Json::string(o, QStringLiteral("pasteMode"))).value_or(s.pasteMode);
    const QString token = Json::string(o, QStringLiteral("tokenFormat"), s.tokenFormat);
    if (token.contains(QLatin1String("%d")) && token.contains(QLatin1String("%s")))
        s.tokenFormat = token;
    if (o.value(QStringLiteral("terminalBundleIDs")).isArray())
        s.terminalBundleIDs = Json::stringList(o, QStringLiteral("terminalBundleIDs"));
    s.localTitlePatterns = Json::stringList(o, QStringLiteral("localTitlePatterns"));
    s.resetSeqOnClear = Json::boolean(o, QStringLiteral("resetSeqOnClear"), s.resetSeqOnClear);
    s.saveWhenNoServer = Json::boolean(o, QStringLiteral("saveWhenNoServer"), s.saveWhenNoServer);
    s.launchAtLogin = Json::boolean(o, QStringLiteral("launchAtLogin"), s.launchAtLogin);
    s.keepAliveAgent = Json::boolean(o, QStringLiteral("keepAliveAgent"), s.keepAliveAgent);
    s.defaultServerID = Json::optUuid(o, QStringLiteral("defaultServerID"));
    s.defaultRemoteDir = Json::string(o, QStringLiteral("defaultRemoteDir"), s.defaultRemoteDir);
    s.deviceRemoteDir = Json::string(o, QStringLiteral("deviceRemoteDir"), s.deviceRemoteDir);
    s.onboardingDone = Json::boolean(o, QStringLiteral("onboardingDone"), s.onboardingDone);
    s.launchDecided = Json::boolean(o, QStringLiteral("launchDecided"), s.launchDecided);
    s.keepAliveStamp = Json::optDate(o, QStringLiteral("keepAliveStamp"));
    s.remoteAccess = Json::boolean(o, QStringLiteral("remoteAccess"), s.remoteAccess);
    s.updateChannelTest = Json::boolean(o, QStringLiteral("updateChannelTest"), s.updateChannelTest);
    s.onboardingTarget =
        oneOf(Json::string(o, QStringLiteral("onboardingTarget")), {"server", "device", "none"});
    s.lastPanelTab = oneOf(Json::string(o, QStringLiteral("lastPanelTab")), {"shots", "servers", "devices"});
    return s;
}

QJsonObject Settings::toJson() const
{
    QJsonObject o{
        {QStringLiteral("hotkeyPaste"), hotkeyPaste},
        {QStringLiteral("hotkeyPanel"), hotkeyPanel},
        {QStringLiteral("maxLongSide"), maxLongSide},
        {QStringLiteral("maxShotBytes"), double(maxShotBytes)},
        {QStringLiteral("dailyLimit"), dailyLimit},
        {QStringLiteral("keepHours"), keepHours},
        {QStringLiteral("maxDirBytes"), double(maxDirBytes)},
        {QStringLiteral("pasteMode"), pasteModeName(pasteMode)},
        {QStringLiteral("tokenFormat"), tokenFormat},
        {QStringLiteral("terminalBundleIDs"), Json::array(terminalBundleIDs)},
        {QStringLiteral("localTitlePatterns"), Json::array(localTitlePatterns)},
        {QStringLiteral("resetSeqOnClear"), resetSeqOnClear},
        {QStringLiteral("saveWhenNoServer"), saveWhenNoServer},
        {QStringLiteral("launchAtLogin"), launchAtLogin},
        {QStringLiteral("keepAliveAgent"), keepAliveAgent},
        {QStringLiteral("defaultRemoteDir"), defaultRemoteDir},
        {QStringLiteral("deviceRemoteDir"), deviceRemoteDir},
        {QStringLiteral("onboardingDone"), onboardingDone},
        {QStringLiteral("launchDecided"), launchDecided},
        {QStringLiteral("remoteAccess"), remoteAccess},
        {QStringLiteral("updateChannelTest"), updateChannelTest},
        {QStringLiteral("onboardingTarget"), onboardingTarget},
        {QStringLiteral("lastPanelTab"), lastPanelTab},
    };
    if (defaultServerID)
        o.insert(QStringLiteral("defaultServerID"), Json::uuidText(*defaultServerID));
    Json::put(o, QStringLiteral("keepAliveStamp"), keepAliveStamp);
    return o;
}
