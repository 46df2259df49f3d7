#include "delivery/Accessibility.h"
#include "support/FakeAccessibilityTrust.h"
#include "support/TempDataDir.h"

#include <QtTest>

class AccessibilityTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // X11 has nothing to grant; a Wayland session cannot send keys and is pointed at the copy-only mode.
    void followsTheSession_data()
    {
        QTest::addColumn<bool>("wayland");
        QTest::addColumn<QString>("hint");
        QTest::newRow("x11") << false << QStringLiteral("辅助功能：Linux 上不需要授权");
        QTest::newRow("wayland") << true << QStringLiteral("辅助功能：Wayland 会话不能模拟按键，请改用「零权限」粘贴方式");
    }

    void followsTheSession()
    {
        QFETCH(bool, wayland);
        QFETCH(QString, hint);
        TempDataDir data;
        FakeAccessibilityTrust trust;
        trust.trusted = !wayland;
        trust.wayland = wayland;
        Accessibility accessibility(trust);
        QCOMPARE(accessibility.isTrusted(), !wayland);
        accessibility.openSettings();
        accessibility.resetAndReprompt();
        const QStringList lines = data.logLines();
        QCOMPARE(lines.size(), 2);
        for (const QString& line : lines)
            QVERIFY(line.endsWith(hint));
    }
};

QTEST_GUILESS_MAIN(AccessibilityTest)
#include "AccessibilityTest.moc"
