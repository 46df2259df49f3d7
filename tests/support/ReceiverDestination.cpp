#include "support/ReceiverDestination.h"

#include "delivery/SSHConfig.h"
#include "delivery/SSHKey.h"
#include "platform/ProcessRunner.h"
#include "servers/ConnectFlow.h"

#include <QFile>

QString ReceiverDestination::authorizedLine(const QString& base, const QString& publicLine)
{
    return QStringLiteral("restrict,command=\"%1/bin/tarnel-receiver\" %2\n").arg(base, publicLine);
}

Outcome<Server> ReceiverDestination::install(SshServerFixture& sshd, const SshServerFixture::Account& account,
    const QString& publicLine)
{
    const auto fail = [](const QString& why) { return Outcome<Server>::failure(why); };
    QFile bundled(QStringLiteral(":/bundled/tarnel-receiver"));
    if (!bundled.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("receiver not bundled"));
    const QString base = account.home + QStringLiteral("/.tarnel");
    if (!sshd.makeDirectory(account, base + QStringLiteral("/bin")) ||
        !sshd.writeFile(account, base + QStringLiteral("/bin/tarnel-receiver"), bundled.readAll(), 0755))
        return fail(QStringLiteral("cannot install receiver"));
    if (!sshd.authorize(account, authorizedLine(base, publicLine)))
        return fail(QStringLiteral("cannot write authorized keys"));

    Server server;
    server.name = account.name;
    server.host = sshd.host();
    server.port = sshd.port();
    server.user = account.name;
    server.setup.keyInstalled = true;
    server.setup.receiverVersion = ConnectFlow::bundledReceiverVersion();
    server.setup.remoteDirAbsolute = base;
    return Outcome<Server>::success(server);
}

Outcome<Server> ReceiverDestination::installForOwnKey(SshServerFixture& sshd, const QString& accountName)
{
    const auto account = sshd.account(accountName);
    if (!account)
        return Outcome<Server>::failure(QStringLiteral("no account ") + accountName);
    const auto key = SSHKey::ensure(SSHKey::defaultPath(), SSHKey::comment(QStringLiteral("test")));
    if (!key.ok())
        return Outcome<Server>::failure(key.failure());
    return install(sshd, *account, key.value());
}

void ReceiverDestination::closeConnection(const Server& server)
{
    ProcessRunner::run(ProcessRunner::sshPath(),
        { QStringLiteral("-F"), SSHConfig::path(), QStringLiteral("-O"), QStringLiteral("exit"), QStringLiteral("--"),
            SSHConfig::alias(server) },
        std::nullopt, 10);
}
