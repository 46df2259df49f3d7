#include "Tunnel.h"

#include "Splice.h"
#include "Stream.h"

#include <QtEndian>

namespace {
// A frame: one type byte, the payload's size (4 bytes, big-endian), the payload.
enum Frame : char {
    Data = 'D',  // tunnel bytes
    Ack = 'A',   // 8 bytes: how many of the other side's bytes arrived; 1 byte: its end arrived too
    End = 'E',   // the sender's local side finished writing; nothing follows
    Abort = 'X', // the sender closed the tunnel
};
constexpr qsizetype headerSize = 5;
constexpr qint64 ackSize = 9;
// A small read is coalesced into the last kept piece while that is smaller than pieceSize, so that
// keystrokes do not make a long list.
constexpr qsizetype smallRead = 4096;
constexpr qsizetype pieceSize = 64 * 1024;
// Acknowledged once this much arrived, well before the sender's window fills.
constexpr qint64 ackEvery = Tunnel::window / 4;

QByteArray header(char type, quint32 size)
{
    QByteArray h(headerSize, Qt::Uninitialized);
    h[0] = type;
    qToBigEndian(size, h.data() + 1);
    return h;
}
} // namespace

Tunnel::Tunnel(const QString& id, Stream* local, const QByteArray& fromLocal, int resumeMs, QObject* parent)
    : QObject(parent), id_(id), local(local)
{
    local->setParent(this);
    if (!fromLocal.isEmpty()) {
        kept.append(fromLocal);
        keptBytes = fromLocal.size();
    }
    expiry.setSingleShot(true);
    expiry.setInterval(resumeMs);
    connect(&expiry, &QTimer::timeout, this,
            [this] { finish(QStringLiteral("%1 秒内没有接上").arg(expiry.interval() / 1000.0), false); });
    connect(local, &Stream::readyRead, this, &Tunnel::pull);
    // Queued: a plain stream says so from inside write(), which parse() calls.
    connect(local, &Stream::written, this, [this] {
        receive();
        check();
    }, Qt::QueuedConnection);
    connect(local, &Stream::broken, this, [this](const QString& reason) { fail(reason); });
    expiry.start(); // until the first carrier
}

Tunnel::~Tunnel()
{
    if (carrier)
        carrier->close();
    local->close();
}

bool Tunnel::attach(Stream* stream, qint64 peerGot, bool peerGotEnd, const QByteArray& rest)
{
    if (over) {
        stream->close();
        stream->deleteLater();
        return false;
    }
    if (peerGot < keptBase || peerGot > sentTotal() || (peerGotEnd && (!localEnded || peerGot != sentTotal()))) {
        stream->close();
        stream->deleteLater();
        fail(QStringLiteral("两边的进度对不上"));
        return false;
    }
    if (carrier) {
        carrier->close();
        carrier->deleteLater();
    }
    expiry.stop();
    carrier = stream;
    carrier->setParent(this);
    connect(carrier, &Stream::readyRead, this, &Tunnel::receive);
    connect(carrier, &Stream::written, this, [this] {
        pull();
        check();
    });
    connect(carrier, &Stream::broken, this, &Tunnel::carrierEnded);
    inbox = rest;
    dataLeft = 0;
    written = peerGot;
    endWritten = false;
    ackedGot = got; // the hello told the peer
    peerEndAcked = peerEnded;
    acked(peerGot, peerGotEnd);
    if (over)
        return false;
    if (!parse())
        return false;
    QMetaObject::invokeMethod(this, [this] {
        pull();
        receive();
    }, Qt::QueuedConnection);
    return true;
}

void Tunnel::detach(const QString& reason)
{
    if (!carrier || over)
        return;
    carrier->close();
    carrier->deleteLater();
    carrier = nullptr;
    inbox.clear();
    dataLeft = 0;
    expiry.start();
    Q_EMIT suspended(reason);
}

void Tunnel::close(const QString& reason) { finish(reason, true); }

void Tunnel::pull()
{
    if (over)
        return;
    // At most what the carrier takes before it counts as slow, then out in one frame.
    qint64 room = carrier ? Splice::highWater - carrier->pendingWrite() : window;
    while (!localEnded && keptBytes < window && room > 0) {
        const QByteArray bytes = local->read(std::min(Splice::chunk, window - keptBytes));
        if (bytes.isEmpty()) {
            localEnded = local->atEnd();
            break;
        }
        room -= bytes.size();
        if (bytes.size() < smallRead && !kept.isEmpty() && kept.last().size() < pieceSize)
            kept.last().append(bytes);
        else
            kept.append(bytes);
        keptBytes += bytes.size();
    }
    push();
    check();
}

void Tunnel::push()
{
    if (!carrier || over)
        return;
    if (const qint64 fresh = sentTotal() - written; fresh > 0) {
        // Back from the end to the piece that holds the first byte the carrier has not had.
        qsizetype i = kept.size();
        qint64 start = sentTotal();
        while (start > written) {
            --i;
            start -= kept.at(i).size();
        }
        carrier->write(header(Data, quint32(fresh)));
        for (; i < kept.size(); ++i) {
            const QByteArray& piece = kept.at(i);
            carrier->write(start < written ? piece.mid(written - start) : piece);
            start += piece.size();
        }
        written = sentTotal();
    }
    if (localEnded && !endWritten && !endAcked) {
        carrier->write(header(End, 0));
        endWritten = true;
    }
}

void Tunnel::receive()
{
    while (carrier && !over && local->pendingWrite() < Splice::highWater) {
        const QByteArray bytes = carrier->read(Splice::chunk);
        if (bytes.isEmpty()) {
            if (carrier->atEnd())
                carrierEnded(QStringLiteral("对方断开了"));
            return;
        }
        if (inbox.isEmpty())
            inbox = bytes;
        else
            inbox.append(bytes);
        if (!parse())
            return;
    }
}

// Hands the complete frames in the inbox on; false when the tunnel ended meanwhile.
bool Tunnel::parse()
{
    qsizetype at = 0;
    while (!over) {
        const qsizetype left = inbox.size() - at;
        if (dataLeft > 0) {
            const qsizetype take = qsizetype(std::min<qint64>(dataLeft, left));
            if (take == 0)
                break;
            local->write(at == 0 && take == inbox.size() ? inbox : inbox.mid(at, take));
            got += take;
            dataLeft -= take;
            at += take;
            continue;
        }
        if (left < headerSize)
            break;
        const char type = inbox.at(at);
        const quint32 size = qFromBigEndian<quint32>(inbox.constData() + at + 1);
        if (type == Data && !peerEnded && size > 0) {
            dataLeft = size;
            at += headerSize;
        } else if (type == Ack && size == ackSize) {
            if (left < headerSize + qsizetype(ackSize))
                break;
            const qint64 count = qFromBigEndian<qint64>(inbox.constData() + at + headerSize);
            const bool end = inbox.at(at + headerSize + 8) != 0;
            at += headerSize + ackSize;
            acked(count, end);
        } else if (type == End && size == 0 && !peerEnded) {
            at += headerSize;
            peerEnded = true;
            local->finishWrite();
        } else if (type == Abort && size == 0) {
            finish(QStringLiteral("对方关掉了通道"), false);
        } else {
            fail(QStringLiteral("对方发来的数据看不懂"));
        }
    }
    if (over)
        return false;
    inbox = at == inbox.size() ? QByteArray() : inbox.mid(at);
    if (got - ackedGot >= ackEvery || (peerEnded && !peerEndAcked))
        sendAck();
    check();
    return !over;
}

void Tunnel::acked(qint64 count, bool end)
{
    if (count < keptBase || count > std::min(sentTotal(), written) ||
        (end && (!localEnded || count != sentTotal())))
        return fail(QStringLiteral("两边的进度对不上"));
    while (!kept.isEmpty() && keptBase + kept.first().size() <= count) {
        keptBase += kept.first().size();
        keptBytes -= kept.first().size();
        kept.removeFirst();
    }
    if (count > keptBase) {
        kept.first().remove(0, count - keptBase);
        keptBytes -= count - keptBase;
        keptBase = count;
    }
    endAcked = endAcked || end;
    // Room in the window again.
    if (!localEnded && keptBytes < window)
        QMetaObject::invokeMethod(this, &Tunnel::pull, Qt::QueuedConnection);
}

void Tunnel::sendAck()
{
    if (!carrier)
        return;
    QByteArray body(ackSize, Qt::Uninitialized);
    qToBigEndian(got, body.data());
    body[8] = peerEnded ? 1 : 0;
    carrier->write(header(Ack, quint32(ackSize)) + body);
    ackedGot = got;
    peerEndAcked = peerEnded;
}

void Tunnel::carrierEnded(const QString& reason)
{
    if (over)
        return;
    check();
    if (!over)
        detach(reason);
}

void Tunnel::check()
{
    if (over || !peerEnded || !peerEndAcked || !endAcked || keptBytes > 0 || local->pendingWrite() > 0)
        return;
    if (carrier && carrier->pendingWrite() > 0)
        return;
    finish({}, false);
}

void Tunnel::finish(const QString& reason, bool tellPeer)
{
    if (over)
        return;
    over = true;
    expiry.stop();
    if (carrier && tellPeer) {
        // The abort goes out on its own; the carrier is dropped a little later.
        carrier->write(header(Abort, 0));
        carrier->finishWrite();
        carrier->disconnect(this);
        carrier->setParent(parent());
        QTimer::singleShot(1000, carrier, &QObject::deleteLater);
    } else if (carrier) {
        carrier->close();
    }
    carrier = nullptr;
    local->close();
    Q_EMIT finished(reason);
}
