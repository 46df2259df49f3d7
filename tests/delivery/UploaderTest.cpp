#include "capture/ShotStore.h"
#include "delivery/ReceiverClient.h"
#include "delivery/SSHConfig.h"
#include "delivery/SSHKey.h"
#include "delivery/Uploader.h"
#include "support/FakeFlash.h"
#include "support/ReceiverDestination.h"
#include "support/ShotRig.h"
#include "support/SshServerFixture.h"
#include "support/TempDataDir.h"
#include "support/TestImages.h"
#include "support/WaitUntil.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <mutex>

class UploaderTest : public QObject {
    Q_OBJECT

    TempDataDir data;
    SshServerFixture sshd;
    // B on a server of its own: without root both accounts are the tester's own, and one user's key can
    // carry only one receiver line per server.
    SshServerFixture sshdB;
    std::optional<SshServerFixture::Account> accountA, accountB;
    QString publicLine;
    Server a, b, off;
    std::unique_ptr<ShotRig> rig;
    ShotStore* shots = nullptr;
    StateStore* state = nullptr;
    int run = 0;
    FakeFlash flash;
    std::unique_ptr<Uploader> uploader;
    std::mutex sessionsLock;
    QList<SSHSession> sessions;
    int width = 300;
    static constexpr int retryMs = 200;
    QHash<QString, int> finished;
    QSet<QUuid> settingUp; // destinations whose receiver is being set up
    QStringList reports;   // what uploads told of each destination: "name: why" or "name ok"

    void setSessions(const QList<SSHSession>& list)
    {
        std::lock_guard lock(sessionsLock);
        sessions = list;
    }

    QString takeShot()
    {
        width += 20;
        return rig->take(TestImages::noise(width, 200, width), 10).shotName;
    }

    Upload upload(const QString& name, const Server& server) { return shots->shot(name)->upload(server.id).value_or(Upload {}); }

    // Runs `start` and waits until the shot's round is over.
    bool round(const QString& name, const std::function<void()>& start)
    {
        const int before = finished.value(name);
        start();
        return waitUntil([&] { return finished.value(name) > before; }, Limit::network);
    }

    QString lastFlash() const { return flash.shown.empty() ? QString() : flash.shown.back().line; }

    QString remoteFile(const Server& server, const QString& name) const { return *ReceiverClient::remotePath(server, name); }

public:
    UploaderTest() { data.usePrivateRuntimeDir(); }

private Q_SLOTS:
    void initTestCase()
    {
        if (const auto error = sshd.start())
            QSKIP(qPrintable(QStringLiteral("no sshd: ") + *error));
        QVERIFY(!sshdB.start());
        accountA = sshd.account(QStringLiteral("tnupa"));
        accountB = sshdB.account(QStringLiteral("tnupb"));
        QVERIFY(accountA && accountB);
        publicLine = SSHKey::ensure(SSHKey::defaultPath(), QStringLiteral("tarnel@test")).value();
        a = ReceiverDestination::install(sshd, *accountA, publicLine).value();
        a.name = QStringLiteral("A");
        b = ReceiverDestination::install(sshdB, *accountB, publicLine).value();
        b.name = QStringLiteral("B");
        b.smartOnly = true;
        b.matchKeywords = { QStringLiteral("devbox") };
        off = b;
        off.id = QUuid::createUuid();
        off.name = QStringLiteral("Off");
        off.enabled = false;
        off.smartOnly = false;
        QVERIFY(SSHConfig::write({ a, b, off }).ok());

    }

    // Every case starts from a store of its own, the destinations as set up, sshd running and no session.
    void init()
    {
        uploader.reset();
        rig.reset();
        // A later hour per case: shot names never meet files an earlier case left on the servers.
        ++run;
        rig = std::make_unique<ShotRig>(data.file(QStringLiteral("run%1").arg(run)),
                                        QDateTime(QDate::currentDate(), QTime(1 + run, 0)));
        shots = rig->shots.get();
        state = rig->state.get();
        state->update([&](StateFile& f) { f.servers = { a, b, off }; });
        if (!sshd.running())
            QVERIFY(!sshd.start());
        QVERIFY(sshdB.authorize(*accountB, ReceiverDestination::authorizedLine(*b.setup.remoteDirAbsolute, publicLine)));
        ReceiverDestination::closeConnection(b);
        setSessions({});
        flash.shown.clear();
        Uploader::Hooks hooks;
        hooks.servers = [this] { return state->state().servers; };
        hooks.settings = [] { return Settings(); };
        hooks.sessions = [this] {
            std::lock_guard lock(sessionsLock);
            return sessions;
        };
        settingUp.clear();
        hooks.settingUp = [this](const Server& s) { return settingUp.contains(s.id); };
        reports.clear();
        hooks.unreachable = [this](const Server& s, const QString& why) { reports << s.name + QStringLiteral(": ") + why; };
        hooks.reached = [this](const Server& s) { reports << s.name + QStringLiteral(" ok"); };
        uploader = std::make_unique<Uploader>(*shots, flash, hooks);
        uploader->setRetryDelay(retryMs);
        connect(uploader.get(), &Uploader::roundFinished, this, [this](const QString& name) { ++finished[name]; });
    }

    void cleanupTestCase()
    {
        if (sshd.running()) {
            ReceiverDestination::closeConnection(a);
            ReceiverDestination::closeConnection(b);
        }
    }

    void firstShotGoesToTheChosenAndPurges()
    {
        // An old file on A: shot 1 starts a remote purge once its uploads are over.
        QVERIFY(sshd.makeDirectory(*accountA, *a.setup.remoteDirAbsolute + QStringLiteral("/shots")));
        const QString old = remoteFile(a, QStringLiteral("20200101-000000-1.png"));
        QVERIFY(sshd.writeFile(*accountA, old, "old", 0600));
        ProcessRunner::run(QStringLiteral("/usr/bin/touch"), { QStringLiteral("-d"), QStringLiteral("3 days ago"), old }, {}, 5);

        const QString name = takeShot();
        QCOMPARE(shots->shot(name)->n, 1);
        QObject watch;
        QStringList seen { QString() }; // every state A's upload goes through, as the store publishes them
        connect(shots, &ShotStore::changed, &watch, [&] {
            if (const auto u = shots->shot(name)->upload(a.id); u && Upload::stateName(u->state) != seen.last())
                seen << Upload::stateName(u->state);
        });
        QVERIFY(round(name, [&] { uploader->upload(name, false); }));
        QCOMPARE(seen.mid(seen.indexOf(QStringLiteral("uploading"))), (QStringList { QStringLiteral("uploading"), QStringLiteral("done") }));
        QCOMPARE(upload(name, a).remotePath, remoteFile(a, name));
        QVERIFY(upload(name, a).at.has_value());
        QCOMPARE(readFile(remoteFile(a, name)), readFile(shots->shot(name)->localPath));
        QCOMPARE(upload(name, b).state, Upload::State::skipped); // smart-only, no session
        QCOMPARE(upload(name, off).state, Upload::State::skipped);
        QTRY_COMPARE(lastFlash(), QStringLiteral("截图1 已传 ✅ A"));
        QVERIFY(flash.shown.back().withImage);
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(old), 10000);
        QVERIFY(QFile::exists(remoteFile(a, name)));
    }

    void smartOnlyFollowsALiveSession()
    {
        setSessions({ SSHSession { QStringLiteral("me"), QStringLiteral("DevBox"), std::nullopt } });
        const QString name = takeShot();
        QVERIFY(round(name, [&] { uploader->upload(name, false); }));
        QCOMPARE(upload(name, a).state, Upload::State::done);
        QCOMPARE(upload(name, b).state, Upload::State::done);
        QCOMPARE(upload(name, off).state, Upload::State::skipped);
        QTRY_COMPARE(lastFlash(), QStringLiteral("截图1 已传 ✅ A、B"));
        QVERIFY(QFile::exists(remoteFile(b, name)));
        // The session's host may also be the server's own address.
        QVERIFY(Uploader::isChosen(b, { SSHSession { {}, QStringLiteral("127.0.0.1"), 22 } }));
        QVERIFY(!Uploader::isChosen(b, { SSHSession { {}, QStringLiteral("other"), 22 } }));
    }

    void failureIsRetriedOnceThenFilledLater()
    {
        setSessions({ SSHSession { QStringLiteral("me"), QStringLiteral("devbox"), std::nullopt } });
        const auto other = SSHKey::generate(QStringLiteral("tarnel@other"));
        QVERIFY(sshdB.authorize(*accountB, ReceiverDestination::authorizedLine(*b.setup.remoteDirAbsolute, other->publicLine)));
        ReceiverDestination::closeConnection(b);

        const QString name = takeShot();
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(round(name, [&] { uploader->upload(name, false); }));
        QVERIFY2(elapsed.elapsed() >= retryMs, "one retry, a while after the first failure");
        QCOMPARE(upload(name, a).state, Upload::State::done);
        QCOMPARE(upload(name, b).state, Upload::State::failed);
        QCOMPARE(upload(name, b).error, QStringLiteral("钥匙被拒：点「重新连接」重新装接收器"));
        QTRY_COMPARE(lastFlash(), QStringLiteral("截图1 已传 A ✅，B ❌"));
        QVERIFY(data.logLines().join('\n').contains(QStringLiteral("截图1 传到 B 失败：钥匙被拒")));
        // The refused key is reported once, after the retry, as the destination's own trouble.
        QCOMPARE(reports, (QStringList{QStringLiteral("A ok"), QStringLiteral("B: 钥匙被拒：点「重新连接」重新装接收器")}));

        QVERIFY(sshdB.authorize(*accountB, ReceiverDestination::authorizedLine(*b.setup.remoteDirAbsolute, publicLine)));
        QVERIFY(round(name, [&] { uploader->fillMissing(name); }));
        QCOMPARE(upload(name, b).state, Upload::State::done);
        QTRY_COMPARE(lastFlash(), QStringLiteral("截图1 已传 ✅ B"));
        QCOMPARE(reports.last(), QStringLiteral("B ok"));
    }

    void serverGoneKeepsTheShotAndFillsLater()
    {
        sshd.stop();
        const QString name = takeShot();
        QVERIFY(round(name, [&] { uploader->upload(name, false); }));
        QCOMPARE(upload(name, a).state, Upload::State::failed);
        QVERIFY(!upload(name, a).error->isEmpty());
        // Nothing arrived anywhere: the flash does not say "已传"; the host out of reach is reported.
        QTRY_COMPARE(lastFlash(), QStringLiteral("截图1 没传上 ❌ A"));
        QVERIFY(QFile::exists(shots->shot(name)->localPath));
        QCOMPARE(reports.size(), 1);
        QVERIFY2(reports.first().startsWith(QStringLiteral("A: 连不上：")), qPrintable(reports.first()));

        QVERIFY(!sshd.start());
        QVERIFY(round(name, [&] { uploader->fillMissing(name); }));
        QCOMPARE(upload(name, a).state, Upload::State::done);
    }

    void fillServerSendsTodaysMissingShots()
    {
        const QString name = takeShot();
        QVERIFY(round(name, [&] { uploader->upload(name, false); })); // skipped on B: no session goes there
        QSignalSpy filled(uploader.get(), &Uploader::serverFilled);
        uploader->fillServer(b);
        QVERIFY(filled.wait(20000));
        QTRY_COMPARE(lastFlash(), QStringLiteral("补传到 B：成功 1 张，失败 0 张"));
        QCOMPARE(upload(shots->shots().first().name, b).state, Upload::State::done);
        uploader->fillServer(b);
        QCOMPARE(filled.size(), 2);
        QTRY_COMPARE(lastFlash(), QStringLiteral("今天的截图都已经在 B 上了"));
    }

    void updateSupersedesARunningPut()
    {
        const QString name = takeShot();
        const int flashesBefore = int(flash.shown.size());
        const QString local = shots->shot(name)->localPath;
        QVERIFY(round(name, [&] {
            uploader->upload(name, false);
            // The shot was replaced in place before the first put could finish.
            TestImages::noise(50, 50).save(local, "PNG");
            uploader->upload(name, true);
        }));
        QTRY_COMPARE(flash.lines().size(), flashesBefore + 1); // one summary, with its picture read first
        QCOMPARE(flash.lines().mid(flashesBefore), QStringList { QStringLiteral("截图%1 已传 ✅ A").arg(shots->shot(name)->n) });
        QCOMPARE(upload(name, a).state, Upload::State::done);
        QCOMPARE(readFile(remoteFile(a, name)), readFile(local));
    }

    void nothingChosenKeepsItLocal()
    {
        state->update([&](StateFile& f) {
            for (Server& s : f.servers)
                s.enabled = false;
        });
        const QString name = takeShot();
        QVERIFY(round(name, [&] { uploader->upload(name, false); }));
        QTRY_COMPARE(lastFlash(), QStringLiteral("截图1 已存本机（没有开着的服务器）"));
        QCOMPARE(upload(name, a).state, Upload::State::skipped);

        // A server left on in smart mode, with no ssh session going to it, is named as the reason.
        state->update([&](StateFile& f) {
            for (Server& s : f.servers)
                s.enabled = s.id == b.id;
        });
        setSessions({});
        const QString second = takeShot();
        QVERIFY(round(second, [&] { uploader->upload(second, false); }));
        QTRY_COMPARE(lastFlash(), QStringLiteral("截图2 已存本机（没有开着连到 B 的 ssh 会话，智能模式不传）"));
        QCOMPARE(upload(second, b).state, Upload::State::skipped);
    }
    // A shot copied while a destination's receiver is being set up reaches it once that is done, or is
    // marked failed when the set-up failed; neither is left without a record.
    void shotWaitsForAReceiverBeingSetUp()
    {
        Server fresh = a;
        fresh.id = QUuid::createUuid();
        fresh.name = QStringLiteral("书房");
        fresh.setup.keyInstalled = false;
        QVERIFY(SSHConfig::write({ a, b, off, fresh }).ok());
        state->update([&](StateFile& f) { f.servers << fresh; });
        settingUp.insert(fresh.id);

        const QString name = takeShot();
        QVERIFY(round(name, [&] { uploader->upload(name, false); }));
        QCOMPARE(upload(name, a).state, Upload::State::done);
        QCOMPARE(upload(name, fresh).state, Upload::State::pending);
        uploader->serversChanged(); // still being set up: nothing moves
        QCOMPARE(upload(name, fresh).state, Upload::State::pending);

        state->update([&](StateFile& f) { f.servers.last().setup.keyInstalled = true; });
        settingUp.remove(fresh.id);
        QVERIFY(round(name, [&] { uploader->serversChanged(); }));
        QCOMPARE(upload(name, fresh).state, Upload::State::done);
        QTRY_COMPARE(lastFlash(), QStringLiteral("截图1 已传 ✅ 书房"));

        // Set up again, and this time it fails.
        state->update([&](StateFile& f) { f.servers.last().setup.keyInstalled = false; });
        settingUp.insert(fresh.id);
        const QString second = takeShot();
        QVERIFY(round(second, [&] { uploader->upload(second, false); }));
        QCOMPARE(upload(second, fresh).state, Upload::State::pending);
        settingUp.remove(fresh.id);
        uploader->serversChanged();
        QCOMPARE(upload(second, fresh).state, Upload::State::failed);
        QCOMPARE(upload(second, fresh).error, QStringLiteral("接收器没装好，没有传"));
        QCOMPARE(upload(second, a).state, Upload::State::done);
    }

    void uploadToWaitsForOneDestination()
    {
        std::optional<Upload> answer;
        auto wait = [&](const QString& name, const Server& server) {
            Caught<Upload> done;
            uploader->uploadTo(name, server, done.callback());
            return done.wait(Limit::network).value_or(Upload {});
        };
        QCOMPARE(wait(QStringLiteral("20990101-000000-9.png"), a).error, QStringLiteral("截图已经不在了"));

        const QString alone = takeShot();
        Upload got = wait(alone, a);
        QCOMPARE(got.state, Upload::State::done);
        QCOMPARE(got.remotePath, remoteFile(a, alone));
        QCOMPARE(readFile(remoteFile(a, alone)), readFile(shots->shot(alone)->localPath));

        Server broken = a;
        broken.setup.remoteDirAbsolute.reset();
        got = wait(alone, broken);
        QCOMPARE(got.state, Upload::State::failed);
        QCOMPARE(got.error, QStringLiteral("接收器还没装好：点「重新连接」"));
        QCOMPARE(upload(alone, a).state, Upload::State::failed);

        // A paste during the shot's own round waits for that put instead of sending the shot again.
        state->update([&](StateFile& f) {
            for (Server& s : f.servers)
                s.enabled = s.id == a.id;
        });
        const QString name = takeShot();
        const int puts = int(data.logLines().filter(QStringLiteral(" 已传到 A")).size());
        answer.reset();
        QVERIFY(round(name, [&] {
            uploader->upload(name, false);
            uploader->uploadTo(name, a, [&](const Upload& u) { answer = u; });
        }));
        QTRY_VERIFY(answer.has_value());
        QCOMPARE(answer->state, Upload::State::done);
        QCOMPARE(answer->remotePath, remoteFile(a, name));
        QCOMPARE(data.logLines().filter(QStringLiteral(" 已传到 A")).size(), puts + 1);
    }
};

QTEST_GUILESS_MAIN(UploaderTest)
#include "UploaderTest.moc"
