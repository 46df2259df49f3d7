#include "account/Account.h"
#include "account/FeedbackModel.h"
#include "support/SignedInApp.h"
#include "support/WindowShot.h"
#include "ui/feedback/AttachmentArea.h"
#include "ui/feedback/FeedbackView.h"
#include "ui/feedback/FeedbackWindowController.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

// Renders the feedback window in each state on a real X server and keeps the pictures in
// <build>/artifacts/feedback/ for a person to look at.
class FeedbackScreenshotTest : public QObject {
    Q_OBJECT

    SignedInApp rig;
    std::unique_ptr<FeedbackWindowController> controller;
    QString folder = QStringLiteral(TARNEL_BINARY_DIR "/artifacts/feedback");

    QWidget* window() const { return controller->window(); }
    FeedbackModel& model() { return controller->model(); }

    static QImage picture(int seed, QSize size = QSize(1280, 800))
    {
        QImage img(size, QImage::Format_ARGB32);
        img.fill(QColor::fromHsv(seed * 50 % 360, 120, 230));
        QPainter p(&img);
        p.setPen(QPen(Qt::black, 6));
        p.drawText(img.rect(), Qt::AlignCenter, QStringLiteral("截图 %1").arg(seed));
        p.drawRect(img.rect().adjusted(40, 40, -40, -40));
        return img;
    }

    void attach(int count)
    {
        const auto target = model().images().size() + count;
        for (int i = 0; i < count; ++i)
            model().add(picture(int(model().images().size()) + i + 1));
        QTRY_COMPARE(model().images().size(), std::min<qsizetype>(target, FeedbackModel::maxImages));
    }

    void shoot(const QString& name)
    {
        const QString problem = saveWindowShot(window(), folder, name, QSize(540, 600));
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs a real X server (DISPLAY)");
        QVERIFY2(rig.start(), qPrintable(rig.error()));
        QVERIFY(QDir().mkpath(folder));
        controller = std::make_unique<FeedbackWindowController>(rig.app());
        rig.app().hideFeedbackWindow = [this] { controller->hide(); };
        controller->show();
        QVERIFY(QTest::qWaitForWindowExposed(window()));
    }

    void cleanupTestCase() { controller.reset(); }

    void editingStates()
    {
        shoot(QStringLiteral("1-empty"));

        QVERIFY(!rig.takeShot(picture(7)).isEmpty());
        window()->findChild<QPlainTextEdit*>(QStringLiteral("textEditor"))
            ->setPlainText(QStringLiteral("按 Alt+Super+3 没反应。\n托盘图标是亮着的，截图也存下来了。"));
        attach(2);
        QMimeData drag;
        drag.setImageData(picture(9));
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &drag, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(controller->view()->attachments(), &enter);
        shoot(QStringLiteral("2-text-images-drag"));
        QDragLeaveEvent leave;
        QApplication::sendEvent(controller->view()->attachments(), &leave);

        rig.service.script(QStringLiteral("api/feedback"),
                           QJsonObject{{"status", 500}, {"body", R"({"error":"服务器出错了，请稍后再试"})"}});
        QTest::mouseClick(window()->findChild<QPushButton*>(QStringLiteral("sendButton")), Qt::LeftButton);
        QTRY_VERIFY(model().error().has_value());
        shoot(QStringLiteral("3-error"));

        rig.service.script(QStringLiteral("api/feedback"), QJsonObject{{"delayMs", 1500}, {"body", R"({"ok":true,"id":42})"}});
        model().send(rig.app().account().record(), rig.app().environmentSummary());
        QVERIFY(model().sending());
        shoot(QStringLiteral("4-sending"));
        QTRY_VERIFY(model().sentID().has_value());
        shoot(QStringLiteral("5-sent"));

        controller->show();
        attach(6);
        shoot(QStringLiteral("6-six-images"));
    }
};

QTEST_MAIN(FeedbackScreenshotTest)
#include "FeedbackScreenshotTest.moc"
