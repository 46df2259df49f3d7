#pragma once

#include "NetNodeFixture.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

// An upload every `everyMs` from one machine to the other through dial, each a fresh ssh as when the
// master connection died with the path; which ones got through, by when they started. At most
// `mostUnderWay` are on their way at once (a tick while that many are makes none): the account's relay
// holds a bounded number of sessions, and how many ride it must not depend on how fast the machine is.
class ShotStream {
public:
    static constexpr int mostUnderWay = 8;

    ShotStream(const NetNodeFixture& from, const QString& to, const QString& user, const QElapsedTimer& clock)
    {
        timer.callOnTimeout([=, this, &from, &clock] {
            if (underWay >= mostUnderWay)
                return;
            ++underWay;
            const int n = int(shots.size());
            shots.push_back({clock.elapsed(), std::nullopt});
            auto* ssh = new QProcess(&timer);
            const QByteArray expected = QByteArray("shot-") + QByteArray::number(n) + '\n';
            QObject::connect(ssh, &QProcess::finished, &timer, [this, ssh, n, expected](int code) {
                --underWay;
                shots[size_t(n)].arrived = code == 0 && ssh->readAllStandardOutput() == expected;
                ssh->deleteLater();
            });
            ssh->start(QStringLiteral("ssh"), from.sshArguments(to, user, QStringLiteral("echo shot-%1").arg(n)));
        });
    }
    void start(int everyMs) { timer.start(everyMs); }
    void stop() { timer.stop(); }
    bool settled() const
    {
        return std::all_of(shots.begin(), shots.end(), [](const Shot& s) { return s.arrived.has_value(); });
    }
    int arrivedSince(qint64 ms) const
    {
        return int(std::count_if(shots.begin(), shots.end(), [ms](const Shot& s) { return s.startedMs >= ms && s.arrived == true; }));
    }
    // Shots started at or after `ms` (and before `until`) that did not arrive.
    int lostSince(qint64 ms, qint64 until = std::numeric_limits<qint64>::max()) const
    {
        return int(std::count_if(shots.begin(), shots.end(), [ms, until](const Shot& s) {
            return s.startedMs >= ms && s.startedMs < until && s.arrived == false;
        }));
    }

private:
    struct Shot {
        qint64 startedMs;
        std::optional<bool> arrived;
    };
    QTimer timer;
    std::vector<Shot> shots;
    int underWay = 0;
};
