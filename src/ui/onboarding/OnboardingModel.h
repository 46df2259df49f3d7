#pragma once

#include "state/Server.h"
#include "state/Settings.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QUuid>
#include <optional>

// What the onboarding window shows, worked out afresh from the published state at every refresh: which
// steps are done and active, and every text that depends on the state. No widgets.
class OnboardingModel {
public:
    struct Facts {
        Settings settings;
        bool trusted = false; // keys can be sent to other programs (XTest)
        bool wayland = false;
        int peerCount = 0;
        QList<Server> servers;            // in list order
        QHash<QUuid, bool> connected;     // server id -> its status is connected
    };

    // How a step's frame is drawn: expanded frames show their content at full strength.
    struct Frame {
        bool done = false;
        bool active = false;
        bool alwaysShow = false;
        bool expanded() const { return done || active || alwaysShow; }
    };

    enum class Permission { zeroPermission, granted, request };
    enum class Target { none, server, device, noChoice };

    static QString exampleShot() { return QStringLiteral("20261018-153012-1.png"); }
    static QString examplePath() { return QStringLiteral("/home/qx/tarnel/shots/20261018-153012-1.png"); }

    explicit OnboardingModel(Facts facts) : f(std::move(facts)) {}

    QString pasteKey() const;
    QString panelKey() const;
    QString intro() const;

    bool accessibilityDone() const;
    bool targetDone() const;
    bool setupDone() const;
    int activeStep() const;
    Frame frame(int step) const;
    std::optional<Server> connectedServer() const;

    QString accessibilityTitle() const;
    Permission permission() const;
    QString permissionText() const;

    // The three cards of step 2: tag, title, detail.
    struct Choice {
        QString tag, title, detail;
    };
    static QList<Choice> choices();

    Target target() const;
    QString setupTitle() const;
    // "已连接 user@host，服务器端已准备好（目录 …）" for the first connected server.
    QString connectedText(const Server& server) const;
    // The texts below mark their bold runs as **…**.
    QString deviceIntro() const;
    static QString deviceSteps();
    QString demoIntro() const;
    // The line the paste hot key would type, with its trailing blank.
    QString demoLine(const std::optional<Server>& server) const;

    QString trayText() const;
    QString trayTips() const;
    QString footer() const;

private:
    Facts f;
};
