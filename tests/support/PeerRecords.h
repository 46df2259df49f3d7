#pragma once

#include "link/LinkStatus.h"

#include <QJsonObject>
#include <QString>

// Peer records for device-link tests, with real key lines made by ssh-keygen.
namespace PeerRecords {

// "ssh-ed25519 <data> <comment>" of a fresh key (made by ssh-keygen; empty when that failed).
QString freshKeyLine(const QString& comment = QStringLiteral("test"));

// A complete, usable peer: id, alias, login name and a fresh host key.
PeerDevice usable(const QString& id, const QString& alias, const QString& user = QStringLiteral("lee"));

// A status document for the scriptable link program: {"status": {..., "peers": [...]}}.
QJsonObject script(const QList<PeerDevice>& peers, bool siteOk = true);

} // namespace PeerRecords
