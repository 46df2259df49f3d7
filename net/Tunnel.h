#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

class Stream;

// One tunnel between a local stream (the sshd, or a dial) and the peer, over a carrier connection that
// may be replaced: when the carrier breaks the local side stays open, and the bytes go on over the next
// carrier from where the other side says it got to, none lost, repeated or reordered. On the carrier the
// bytes travel in frames with acknowledgements; each side keeps what the other has not acknowledged, at
// most `window` bytes (reading from the local side pauses there). With no carrier for `resumeMs` the
// tunnel closes.
class Tunnel : public QObject {
    Q_OBJECT
public:
    // Owns `local`; `fromLocal`: bytes already read from it.
    Tunnel(const QString& id, Stream* local, const QByteArray& fromLocal, int resumeMs, QObject* parent = nullptr);
    ~Tunnel() override;

    QString id() const { return id_; }
    // How far this side got in the peer's bytes, for the resume hello.
    qint64 received() const { return got; }
    bool receivedEnd() const { return peerEnded; }
    bool attached() const { return carrier != nullptr; }

    // Carries on over `stream` (owned from now), the peer having got `peerGot` bytes (and the end when
    // `peerGotEnd`); `rest`: bytes read from the stream past its hello. False, and the tunnel closes, when
    // the peer's count does not fit what this side kept.
    bool attach(Stream* stream, qint64 peerGot, bool peerGotEnd, const QByteArray& rest);
    // Drops the carrier (the path under it went) and waits for the next.
    void detach(const QString& reason);
    // Ends the tunnel now; the peer hears of it when a carrier is there.
    void close(const QString& reason);

    static constexpr qint64 window = 4 * 1024 * 1024;

Q_SIGNALS:
    void suspended(const QString& reason); // the carrier went; waiting for the next
    void finished(const QString& reason);  // over, both streams closed; empty when both sides ended

private:
    void pull();
    void push();
    void receive();
    bool parse();
    void acked(qint64 count, bool end);
    void sendAck();
    void carrierEnded(const QString& reason);
    void check();
    void finish(const QString& reason, bool tellPeer);
    void fail(const QString& reason) { finish(reason, true); }
    qint64 sentTotal() const { return keptBase + keptBytes; }

    QString id_;
    Stream* local;
    Stream* carrier = nullptr;
    // Read from the local side and not yet acknowledged: bytes keptBase .. keptBase + keptBytes.
    QList<QByteArray> kept;
    qint64 keptBase = 0;
    qint64 keptBytes = 0;
    qint64 written = 0; // how far the current carrier was given bytes
    bool localEnded = false;
    bool endWritten = false;
    bool endAcked = false;
    // The peer's bytes handed to the local side, and the count last acknowledged.
    qint64 got = 0;
    qint64 ackedGot = 0;
    bool peerEnded = false;
    bool peerEndAcked = false;
    QByteArray inbox;
    qint64 dataLeft = 0; // of the data frame being read
    QTimer expiry;
    bool over = false;
};
