#include "platform/x11/X11AccessibilityTrust.h"

#include <QtTest>

class X11AccessibilityTrustTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        qunsetenv("WAYLAND_DISPLAY");
        qunsetenv("XDG_SESSION_TYPE");
    }

    void trustedOnX11WithXTest()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X server (DISPLAY)");
        QVERIFY(!trust.isWayland());
        QVERIFY(trust.isTrusted());
    }

    void notTrustedUnderWayland_data()
    {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("session type") << QByteArray("XDG_SESSION_TYPE") << QByteArray("wayland");
        QTest::newRow("compositor socket") << QByteArray("WAYLAND_DISPLAY") << QByteArray("wayland-0");
    }

    void notTrustedUnderWayland()
    {
        QFETCH(QByteArray, variable);
        QFETCH(QByteArray, value);
        qputenv(variable.constData(), value);
        QVERIFY(trust.isWayland());
        QVERIFY(!trust.isTrusted());
    }

private:
    X11AccessibilityTrust trust;
};

QTEST_GUILESS_MAIN(X11AccessibilityTrustTest)
#include "X11AccessibilityTrustTest.moc"
