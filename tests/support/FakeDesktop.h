#pragma once

#include "app/AppState.h"
#include "support/FakeAccessibilityTrust.h"
#include "support/FakeActiveWindow.h"
#include "support/FakeClipboard.h"
#include "support/FakeFlash.h"
#include "support/FakeGlobalHotkeys.h"
#include "support/FakeKeyboard.h"
#include "support/FakeLaunchServices.h"
#include "support/FakeNetworkMonitor.h"
#include "support/FakeOpener.h"
#include "support/FakeSleepInhibitor.h"

// Every desktop service as a fake, handed to AppState in one piece.
struct FakeDesktop {
    FakeClipboard clipboard;
    FakeGlobalHotkeys hotkeys;
    FakeActiveWindow window;
    FakeKeyboard keyboard;
    FakeAccessibilityTrust trust;
    FakeLoginItem loginItem;
    FakeKeepAliveAgent agent;
    FakeFlash flash;
    FakeOpener opener;
    FakeSleepInhibitor sleepInhibitor;
    FakeNetworkMonitor network;

    // With the fake hot keys and clipboard, or with real ones the test brings.
    DesktopServices services(GlobalHotkeys* realHotkeys = nullptr, Clipboard* realClipboard = nullptr)
    {
        return DesktopServices{realClipboard ? *realClipboard : clipboard, realHotkeys ? *realHotkeys : hotkeys, window,
                               keyboard, trust, loginItem, agent, nullptr, flash, opener, sleepInhibitor, network};
    }
};
