#pragma once

#include "app/AppState.h"
#include "state/Store.h"
#include "support/AccountServiceFixture.h"
#include "support/FakeDesktop.h"
#include "support/TempDataDir.h"
#include "support/TempSettings.h"

#include <memory>

// The hub over fake desktop services in a private data folder, signed in to a real tarnel-accountd on
// loopback. Create it before anything reads the data folder.
class SignedInApp {
public:
    // Starts the service, registers `username`, saves the sign-in and builds and starts the hub.
    bool start(const QString& username = QStringLiteral("alice"));
    QString error() const { return problem; }

    TempDataDir data;
    TempSettings settings;
    AccountServiceFixture service;
    FakeDesktop desktop;
    QString token;

    AppState& app() { return *hub; }
    Store& store() { return *files; }
    // Stores an image as a new shot, as a copy on the clipboard would; its path.
    QString takeShot(const QImage& image);

private:
    std::unique_ptr<Store> files;
    std::unique_ptr<AppState> hub;
    QString problem;
};
