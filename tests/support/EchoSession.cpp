#include "EchoSession.h"

#include "WaitUntil.h"

#include <QRandomGenerator>

EchoSession::EchoSession(const QStringList& sshArguments)
{
    QObject::connect(&ssh, &QProcess::readyReadStandardOutput, [this] { readBack(); });
    ssh.start(QStringLiteral("ssh"), sshArguments);
}

EchoSession::~EchoSession()
{
    if (ssh.state() != QProcess::NotRunning) {
        ssh.kill();
        ssh.waitForFinished();
    }
}

bool EchoSession::started() { return ssh.waitForStarted(); }

void EchoSession::send(const QByteArray& bytes)
{
    pending.append(bytes);
    sent += bytes.size();
    sentHash.addData(bytes);
    ssh.write(bytes);
}

void EchoSession::sendRandom(qint64 size)
{
    constexpr qint64 piece = 1024 * 1024;
    for (qint64 done = 0; done < size; done += piece) {
        QByteArray bytes(qsizetype(std::min(piece, size - done)), Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
        send(bytes);
    }
}

void EchoSession::readBack()
{
    const QByteArray back = ssh.readAllStandardOutput();
    const QByteArrayView expected = QByteArrayView(pending).sliced(checked);
    const qsizetype same = std::min(back.size(), expected.size());
    if (firstWrongAt < 0 && (back.size() > expected.size() || QByteArrayView(back).first(same) != expected.first(same)))
        firstWrongAt = echoed;
    checked += same;
    echoed += back.size();
    if (checked > (8 << 20)) {
        pending.remove(0, checked);
        checked = 0;
    }
}

bool EchoSession::echoedAll(int limitMs)
{
    waitUntil([this] {
        readBack();
        return echoed >= sent || firstWrongAt >= 0 || ssh.state() == QProcess::NotRunning;
    }, limitMs);
    readBack();
    return echoed == sent && firstWrongAt < 0;
}

QString EchoSession::mismatch() const
{
    if (firstWrongAt >= 0)
        return QStringLiteral("wrong bytes from offset %1").arg(firstWrongAt);
    return echoed == sent ? QString() : QStringLiteral("%1 of %2 bytes came back").arg(echoed).arg(sent);
}
