#include "ui/shell/FlashOverlay.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QTest>

class FlashOverlayTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs a real X server (DISPLAY)");
    }

    void showsTopRightWithoutTakingFocusAndHidesOnTime()
    {
        QLineEdit editor;
        editor.setObjectName(QStringLiteral("typing"));
        editor.show();
        editor.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&editor));

        FlashOverlay flash;
        QImage image(800, 600, QImage::Format_RGB32);
        image.fill(Qt::red);
        flash.show(image, QStringLiteral("截图1 已传 ✅ 服务器"), 400);
        QVERIFY(QTest::qWaitForWindowExposed(&flash));
        QCOMPARE(flash.line(), QStringLiteral("截图1 已传 ✅ 服务器"));

        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect frame = flash.frameGeometry();
        QCOMPARE(frame.top(), area.top() + FlashOverlay::margin);
        QCOMPARE(frame.right(), area.right() - FlashOverlay::margin);
        // The picture is at most 160x100.
        const auto* picture = flash.findChild<QLabel*>(QStringLiteral("flashImage"));
        QVERIFY(picture->pixmap().width() <= 160 && picture->pixmap().height() <= 100);

        QTest::qWait(100);
        QVERIFY(editor.isActiveWindow());

        // A new notice replaces the current one and restarts its time.
        flash.show({}, QStringLiteral("📋 已复制 截图2"), 400);
        QCOMPARE(flash.line(), QStringLiteral("📋 已复制 截图2"));
        QVERIFY(picture->isHidden());
        QTest::qWait(250);
        QVERIFY(flash.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!flash.isVisible(), 1000);
    }
};

QTEST_MAIN(FlashOverlayTest)
#include "FlashOverlayTest.moc"
