#pragma once

#include "state/Outcome.h"

#include <QByteArray>
#include <QString>
#include <optional>

// tarnel's own ed25519 key pair (`id_ed25519` and `id_ed25519.pub` in the data directory), generated with
// OpenSSL and written in OpenSSH's formats so ssh reads it like one of its own.
class SSHKey {
public:
    // "tarnel@" + the machine name reduced to [A-Za-z0-9._-], at most 40 characters of it.
    static QString comment(const QString& machineName);
    static QString machineName();
    static QString defaultPath();

    // The public line of the existing pair; otherwise a new pair (private 0600, public 0644). A missing
    // public file is rebuilt from the private key; a private key we cannot read is kept aside, not lost.
    static Outcome<QString> ensure(const QString& privateKeyPath, const QString& comment);

    // The trimmed content of "<privateKeyPath>.pub", or none.
    static std::optional<QString> publicLine(const QString& privateKeyPath);

    // "SHA256:<base64 without padding>" of the key in a public line, as ssh-keygen -l shows it; empty
    // when the line holds no key.
    static QString fingerprint(const QString& publicLine);

    // The two file texts of a key pair; exposed for tests.
    struct Pair {
        QByteArray privateFile;
        QString publicLine;
    };
    static std::optional<Pair> generate(const QString& comment);
    // The public line recorded in an unencrypted openssh-key-v1 ed25519 file, with its comment.
    static std::optional<QString> publicLineOfPrivateFile(const QByteArray& privateFile);
};
