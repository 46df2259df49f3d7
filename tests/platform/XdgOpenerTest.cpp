// Opening files through xdg-open: what it is handed, and the answer when the desktop has no xdg-open
// (Debian without xdg-utils).
#include "platform/x11/XdgOpener.h"
#include "support/TempDataDir.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

class XdgOpenerTest : public QObject {
    Q_OBJECT

    // Runs the opener with only `dir` on the search path.
    static bool openWithPath(const QString& dir, const QUrl& url, XdgOpener&& opener = XdgOpener())
    {
        const QByteArray saved = qgetenv("PATH");
        qputenv("PATH", dir.toUtf8());
        const bool opened = opener.open(url);
        qputenv("PATH", saved);
        return opened;
    }

private Q_SLOTS:
    void handsTheFileToXdgOpen()
    {
        QTemporaryDir bin;
        const QString recorder = bin.filePath(QStringLiteral("xdg-open"));
        QVERIFY(writeWholeFile(recorder, QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"%1.argv\"\n").arg(recorder).toUtf8()));
        QVERIFY(QFile::setPermissions(recorder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        const QString shot = QStringLiteral("/tmp/my shots/shot 1.png");
        QVERIFY(openWithPath(bin.path(), QUrl::fromLocalFile(shot)));
        QTRY_COMPARE(QString::fromUtf8(readFile(recorder + QStringLiteral(".argv"))), shot + QLatin1Char('\n'));
    }

    // No xdg-open is a failure at once; one that finds no application (exit status 3, as on a desktop
    // without a file manager) is reported when it ends.
    void failuresAreReported()
    {
        QTemporaryDir empty;
        QVERIFY(!openWithPath(empty.path(), QUrl::fromLocalFile(QDir::tempPath())));

        QTemporaryDir bin;
        const QString helpless = bin.filePath(QStringLiteral("xdg-open"));
        QVERIFY(writeWholeFile(helpless, "#!/bin/sh\nexit 3\n"));
        QVERIFY(QFile::setPermissions(helpless, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        XdgOpener opener;
        QStringList failures;
        opener.onFailure = [&failures](const QUrl& url, const QString& why) { failures << url.toLocalFile() + why; };
        QVERIFY(openWithPath(bin.path(), QUrl::fromLocalFile(QStringLiteral("/tmp")), std::move(opener)));
        QTRY_COMPARE(failures, QStringList{QStringLiteral("/tmpxdg-open 找不到能打开它的程序（这台电脑上没有文件管理器或看图程序？）")});
    }
};

QTEST_GUILESS_MAIN(XdgOpenerTest)
#include "XdgOpenerTest.moc"
