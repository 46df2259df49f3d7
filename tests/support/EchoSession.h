#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QProcess>
#include <QStringList>

// An ssh session whose remote command echoes what it gets (`cat`, `tee file`): bytes go in, in pieces,
// and what came back is checked against everything sent, in order.
class EchoSession {
public:
    explicit EchoSession(const QStringList& sshArguments);
    ~EchoSession();

    bool started();
    void send(const QByteArray& bytes);
    // `size` random bytes, sent in pieces of 1 MB.
    void sendRandom(qint64 size);
    // Everything sent came back, and nothing else, within the limit.
    bool echoedAll(int limitMs);
    void finishInput() { ssh.closeWriteChannel(); }
    bool ended(int limitMs) { return ssh.state() == QProcess::NotRunning || ssh.waitForFinished(limitMs); }
    QProcess& process() { return ssh; }
    qint64 sentSize() const { return sent; }
    QByteArray sentSha256() const { return sentHash.result().toHex(); }
    // What came back that differs from what was sent (empty when it is a prefix of it).
    QString mismatch() const;

private:
    void readBack();

    QProcess ssh;
    QByteArray pending; // sent; the first `checked` bytes came back
    qsizetype checked = 0;
    qint64 sent = 0;
    qint64 echoed = 0;
    qint64 firstWrongAt = -1;
    QCryptographicHash sentHash{QCryptographicHash::Sha256};
};
