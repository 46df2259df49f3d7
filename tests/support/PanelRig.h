#pragma once

#include "app/AppState.h"
#include "state/StateFile.h"
#include "state/Store.h"
#include "support/FakeDesktop.h"
#include "support/TempDataDir.h"

#include <QSize>
#include <functional>
#include <memory>

// A data folder that already holds destinations and shots (picture files and records named as tarnel
// names them), and the hub over it with every desktop service faked: for the panel's tests, screenshots
// and benchmark. The process's one data folder is emptied first, so each rig starts afresh. Fill it,
// then build the hub; the hub is not started (no timers, no connections).
class PanelRig {
public:
    explicit PanelRig(const TempDataDir& data);
    ~PanelRig();

    // A destination with its key installed and its remote folder known, unless told otherwise.
    Server& addServer(const QString& name, bool enabled = true, bool keyInstalled = true, bool remoteKnown = true);
    void addServer(const Server& server) { file.servers << server; }
    // A shot taken at `when`, numbered after the shots of its day added before; its picture is `size`
    // pixels and shows its number.
    Shot& addShot(const QDateTime& when, QSize size = QSize(1280, 720));
    void choose(const QString& shotName) { file.selectedShot = shotName; }
    // With a saved sign-in the account gate is open; without, it is closed ("还没登录 tarnel 账号").
    void signIn();

    // `hotkeys`: real global hot keys in place of the fake ones.
    AppState& build(GlobalHotkeys* hotkeys = nullptr);
    AppState& app() { return *hub; }
    // Runs `action` on the built hub and answers how many times it reported a change meanwhile: once for
    // each time the settings were stored.
    int saves(const std::function<void()>& action);
    const QList<Server>& servers() const { return file.servers; }

    const TempDataDir& data;
    FakeDesktop desktop;
    // Set before building: the hub uses this clipboard (a real one) instead of the fake.
    Clipboard* realClipboard = nullptr;
    // Copies the first picture of each size instead of drawing every one (many shots, quickly).
    bool reusePictures = false;

    // A picture that looks like a screenshot: a title bar, panels and the number in large type.
    static QImage picture(QSize size, qint64 number);

private:
    StateFile file;
    QHash<QString, QString> drawn; // "<w>x<h>" -> a file of that size already written
    std::unique_ptr<Store> store;
    std::unique_ptr<AppState> hub;
};
