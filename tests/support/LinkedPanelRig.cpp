#include "support/LinkedPanelRig.h"

#include "link/LinkManager.h"
#include "state/Paths.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTest>

LinkedPanelRig::LinkedPanelRig(const TempDataDir& data) : panel(data), program(Paths::netDirectory())
{
    QDir(Paths::netDirectory()).removeRecursively();
    QDir().mkpath(Paths::netDirectory());
    QDir().mkpath(sshDirectory());
    program.script({});
}

LinkedPanelRig::~LinkedPanelRig() = default;

QString LinkedPanelRig::sshDirectory() const { return panel.data.file(QStringLiteral("ssh")); }

void LinkedPanelRig::allowKeys(const QList<PeerDevice>& peers, const QByteArray& before) const
{
    QFile keys(sshDirectory() + QStringLiteral("/authorized_keys"));
    if (!keys.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    keys.write(before);
    for (const PeerDevice& p : peers)
        keys.write(p.sshPubKey.toUtf8() + '\n');
}

bool LinkedPanelRig::start()
{
    panel.signIn();
    AppState& hub = panel.build();
    LinkManager& link = hub.link();
    LinkManager::Intervals slow;
    slow.firstPollMs = 3600 * 1000;
    slow.pollMs = 3600 * 1000;
    slow.fastPollMs = 3600 * 1000;
    link.setIntervals(slow);
    link.programPath = [] { return std::optional<QString>(FakeLinkProgram::path()); };
    link.sshDirectory = sshDirectory();
    link.sshdPort = 1; // nothing listens there
    link.start();
    return QTest::qWaitFor([&] { return link.helper().kind == LinkManager::Helper::Kind::running; }, 10000);
}

SelfDevice LinkedPanelRig::defaultSelf()
{
    return {QStringLiteral("self-1"), QStringLiteral("书房的电脑"), QStringLiteral("qx-study"), QString()};
}

PeerDevice LinkedPanelRig::peer(const QString& id, const QString& name, bool online, bool key)
{
    PeerDevice p;
    p.id = id;
    p.name = name;
    p.alias = QStringLiteral("qx-") + id;
    p.sshUser = QStringLiteral("lee");
    p.online = online;
    if (key)
        p.sshPubKey = QStringLiteral("ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAI") + id.toLatin1().toHex()
            + QStringLiteral(" tarnel@") + id;
    return p;
}

bool LinkedPanelRig::publish(const QList<PeerDevice>& peers, const SelfDevice& self, bool siteOk, const QString& siteError)
{
    QJsonArray list;
    for (const PeerDevice& p : peers)
        list.append(p.toJson());
    program.script({{QStringLiteral("status"),
        QJsonObject{{QStringLiteral("version"), QStringLiteral("fake")}, {QStringLiteral("device"), self.toJson()},
            {QStringLiteral("site"), QJsonObject{{QStringLiteral("ok"), siteOk}, {QStringLiteral("lastError"), siteError}}},
            {QStringLiteral("peers"), list}}}});
    // A program still binding its socket answers a moment later.
    LinkManager& link = app().link();
    return QTest::qWaitFor([&] {
        return pollApplied() && link.status() && link.status()->device == self && link.peers().size() == peers.size()
            && !link.lastError();
    }, 10000);
}

bool LinkedPanelRig::pollApplied()
{
    LinkManager& link = app().link();
    if (!QTest::qWaitFor([&] { return !link.pollInFlight(); }, 5000))
        return false;
    link.poll();
    return QTest::qWaitFor([&] { return !link.pollInFlight(); }, 5000);
}

int LinkedPanelRig::statusRequests() const { return int(program.commandNames().count(QStringLiteral("status"))); }
