#include "delivery/Accessibility.h"
#include "support/FakeAccessibilityTrust.h"
#include "support/TempDataDir.h"

#include <QtTest>

class AccessibilityTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void followsTheSession()
    {
        FakeAccessibilityTrust trust;
        Accessibility accessibility(trust);
        QVERIFY(accessibility.isTrusted());
        trust.trusted = false;
        QVERIFY(!accessibility.isTrusted());
    }

    void nothingToGrantOnX11()
    {
        TempDataDir data;
        FakeAccessibilityTrust trust;
        Accessibility accessibility(trust);
        accessibility.openSettings();
        accessibility.resetAndReprompt();
        const QStringList lines = data.logLines();
        QCOMPARE(lines.size(), 2);
        for (const QString& line : lines)
            QVERIFY(line.endsWith(QStringLiteral("辅助功能：Linux 上不需要授权")));
    }

    void waylandPointsToTheCopyOnlyMode()
    {
        TempDataDir data;
        FakeAccessibilityTrust trust;
        trust.trusted = false;
        trust.wayland = true;
        Accessibility accessibility(trust);
        accessibility.openSettings();
        QVERIFY(data.logLines().last().endsWith(QStringLiteral("辅助功能：Wayland 会话不能模拟按键，请改用「零权限」粘贴方式")));
    }
};

QTEST_GUILESS_MAIN(AccessibilityTest)
#include "AccessibilityTest.moc"
