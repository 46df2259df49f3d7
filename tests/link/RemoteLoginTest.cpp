// The ssh-server probe against a real sshd on loopback, and the opener of the desktop's sharing panel.
#include "link/RemoteLogin.h"
#include "support/SshServerFixture.h"
#include "support/TempDataDir.h"

#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

class RemoteLoginTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void probeAnswersWhetherAServerAccepts()
    {
        SshServerFixture sshd;
        if (const auto problem = sshd.start())
            QSKIP(qPrintable(*problem));
        QVERIFY(RemoteLogin::sshdListening(400, quint16(sshd.port())));

        QTcpServer closed; // a port that was free a moment ago and is closed again
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        QVERIFY(!RemoteLogin::sshdListening(400, port));
    }

    void sharingPanelOpensOnlyWhereThereIsOne()
    {
        QTemporaryDir bin;
        QVERIFY(!RemoteLogin::openSharingSettings({bin.path()}));

        const QString panel = bin.filePath(QStringLiteral("gnome-control-center"));
        QVERIFY(writeWholeFile(panel, "#!/bin/sh\necho \"$@\" > \"$0.args\"\n"));
        QFile::setPermissions(panel, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(RemoteLogin::openSharingSettings({bin.path()}));
        QTRY_COMPARE(readFile(panel + ".args"), QByteArray("sharing\n"));
    }
};

QTEST_GUILESS_MAIN(RemoteLoginTest)
#include "RemoteLoginTest.moc"
