// The hub over a real sshd: a shot a crash kept from its record goes to its destination at the next start,
// as a new shot does, and the hub's end closes the shared ssh connection it opened.
#include "account/QXServer.h"
#include "app/AppState.h"
#include "capture/ShotStore.h"
#include "delivery/ReceiverClient.h"
#include "delivery/SSHConfig.h"
#include "state/Paths.h"
#include "support/AccountServiceFixture.h"
#include "support/PanelRig.h"
#include "support/ReceiverDestination.h"
#include "support/SshServerFixture.h"
#include "support/WaitUntil.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTest>

class AppStateSshTest : public QObject {
    Q_OBJECT
    TempDataDir data;
    SshServerFixture sshd;

public:
    AppStateSshTest() { data.usePrivateRuntimeDir(); }

private Q_SLOTS:
    void initTestCase()
    {
        if (const auto error = sshd.start())
            QSKIP(qPrintable(QStringLiteral("no sshd: ") + *error));
        const QUrl nobody(QStringLiteral("http://127.0.0.1:%1/").arg(AccountServiceFixture::closedPort()));
        QXServer::useURLs(nobody, nobody);
    }

    void takenBackShotIsSentAndQuitEndsTheConnection()
    {
        Server server;
        QString socket;
        QElapsedTimer quitting;
        {
            PanelRig rig(data);
            rig.signIn();
            const auto installed = ReceiverDestination::installForOwnKey(sshd, QStringLiteral("tnback"));
            QVERIFY2(installed.ok(), qPrintable(installed.failure()));
            server = installed.value();
            rig.addServer(server);

            // The picture on disk, its record not: what a crash between the two leaves.
            const QDateTime taken = QDateTime::currentDateTime().addSecs(-60);
            const QString day = data.file(QStringLiteral("shots/") + taken.toString(QStringLiteral("yyyy-MM-dd")));
            const QString name = taken.toString(QStringLiteral("yyyyMMdd-HHmmss")) + QStringLiteral("-1.png");
            QVERIFY(QDir().mkpath(day));
            QVERIFY(PanelRig::picture(QSize(640, 400), 1).save(day + QLatin1Char('/') + name, "PNG"));

            AppState& app = rig.build();
            app.start();
            QVERIFY2(waitUntil([&] {
                const auto shot = app.shots().shot(name);
                const auto upload = shot ? shot->upload(server.id) : std::nullopt;
                return upload && upload->state == Upload::State::done;
            }, Limit::ssh), qPrintable(data.logLines().join(QLatin1Char('\n'))));
            QVERIFY(QFile::exists(*ReceiverClient::remotePath(server, name)));
            socket = SSHConfig::controlSocket(server, Paths::controlDirectory());
            QVERIFY(QFileInfo::exists(socket));
            quitting.start();
        }
        QVERIFY(quitting.elapsed() < Limit::local);
        QVERIFY(waitUntil([&] { return !QFileInfo::exists(socket); }));
    }
};

QTEST_MAIN(AppStateSshTest)
#include "AppStateSshTest.moc"
