#include "account/FeedbackModel.h"
#include "support/SignedInApp.h"
#include "support/WindowShot.h"
#include "ui/feedback/AttachmentArea.h"
#include "ui/feedback/FeedbackView.h"
#include "ui/feedback/FeedbackWindowController.h"
#include "ui/shell/QtTranslations.h"

#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QUrl>

// The feedback window driven like a person would, sending to the real account service; a picture of each
// state goes to <build>/artifacts/feedback/.
class FeedbackWindowTest : public QObject {
    Q_OBJECT
    SignedInApp rig;
    std::unique_ptr<FeedbackWindowController> controller;
    WindowProbe probe{[this] { return controller->window(); }, QStringLiteral("feedback"), QSize(540, 600)};

    FeedbackModel& model() { return controller->model(); }
    template <typename T = QWidget>
    T* find(const char* name) const
    {
        return probe.find<T>(name);
    }
    void settle() { QTRY_VERIFY(!model().adding() && !model().sending()); }
    void type(const QString& text) { find<QPlainTextEdit>("textEditor")->setPlainText(text); }
    void drop(QMimeData* mime)
    {
        QWidget* area = controller->view()->attachments();
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(area, &enter);
        QVERIFY(controller->view()->attachments()->dropTargeted() == enter.isAccepted());
        QDropEvent event(QPointF(5, 5), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(area, &event);
    }
    static QImage picture(QColor colour)
    {
        QImage img(120, 90, QImage::Format_RGB32);
        img.fill(colour);
        return img;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(rig.start(), qPrintable(rig.error()));
        controller = std::make_unique<FeedbackWindowController>(rig.app());
        rig.app().hideFeedbackWindow = [this] { controller->hide(); };
    }

    void init()
    {
        controller->show();
        model().startNew();
        settle();
    }

    void imagesArriveByEveryRoad()
    {
        QVERIFY(find("newestShotButton")->isHidden()); // no shot yet
        probe.shoot(QStringLiteral("1-empty"));
        const QString shot = rig.takeShot(picture(Qt::blue));
        QTRY_COMPARE(find<QPushButton>("newestShotButton")->text(), QStringLiteral("加上最近一张（截图1）"));
        QTest::mouseClick(find<QPushButton>("newestShotButton"), Qt::LeftButton);
        QTRY_VERIFY(find("newestShotButton")->isHidden()); // added: not offered twice

        QMimeData image, file;
        image.setImageData(picture(Qt::green));
        drop(&image);
        file.setUrls({QUrl::fromLocalFile(shot)});
        drop(&file);

        QApplication::clipboard()->setImage(picture(Qt::red));
        QTest::keyClick(find("textEditor"), Qt::Key_V, Qt::ControlModifier); // pasted into the text box
        QTest::keyClick(find("cancelButton"), Qt::Key_V, Qt::ControlModifier); // anywhere else in the form
        settle();
        QVERIFY(find<QPlainTextEdit>("textEditor")->toPlainText().isEmpty());

        controller->view()->chooseFiles = [shot] { return QStringList{shot}; };
        QTest::mouseClick(find<QWidget>("addImageTile"), Qt::LeftButton);
        settle();
        QList<QRgb> colours;
        for (const auto& a : model().images())
            colours.append(a.image.pixel(0, 0));
        QCOMPARE(colours, (QList<QRgb>{qRgb(0, 0, 255), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(255, 0, 0),
                                       qRgb(255, 0, 0), qRgb(0, 0, 255)}));
        // Full: neither the tile nor the newest-shot button is offered, and a seventh drop is ignored.
        QTRY_VERIFY(find("addImageTile")->isHidden() && find("newestShotButton")->isHidden());
        image.setImageData(picture(Qt::black));
        drop(&image);
        settle();
        QCOMPARE(model().images().size(), FeedbackModel::maxImages);
        probe.shoot(QStringLiteral("2-six-images"));

        QTest::mouseClick(controller->view()->findChildren<QWidget*>(QStringLiteral("removeImageButton")).at(1),
                          Qt::LeftButton);
        QCOMPARE(model().images().size(), FeedbackModel::maxImages - 1);
        QTRY_VERIFY(!find("addImageTile")->isHidden());
    }

    // The file dialog of "加截图" is Qt's own on a desktop without a portal: its texts come in Chinese too.
    void addImageDialogSpeaksChinese()
    {
        QVERIFY(QtTranslations::installChinese(*qApp));
        QFileDialog dialog(controller->window(), QStringLiteral("加截图"));
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.show();
        QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("fileNameLabel"))->text(), QStringLiteral("文件名称(&N)："));
        QVERIFY(saveWindowShot(&dialog, QStringLiteral(TARNEL_BINARY_DIR "/artifacts/feedback"), QStringLiteral("6-add-image-dialog"), dialog.size()).isEmpty());
    }

    void summaryLineShowsWholeGigabytes()
    {
        const QString head = QStringLiteral("会一起发送：tarnel 1.2 · Debian · ");
        QCOMPARE(FeedbackView::summaryLine("1.2", "Debian", "ThinkPad", 17179869184, 3), head + "ThinkPad · 16 GB · 3 台服务器");
        QCOMPARE(FeedbackView::summaryLine("1.2", "Debian", "ThinkPad", 17179869183, 3), head + "ThinkPad · 15 GB · 3 台服务器");
        QCOMPARE(FeedbackView::summaryLine("1.2", "Debian", QString(), 8LL << 30, 3), head + "8 GB · 3 台服务器");
        // The form shows the system as the report sends it.
        const QString sent = rig.app().environmentSummary().value(QStringLiteral("os"));
        QVERIFY(find<QLabel>("summaryLabel")->text().contains(QStringLiteral(" · ") + sent + QStringLiteral(" · ")));
    }

    void sendingCancellingAndWritingAnother()
    {
        type(QStringLiteral(" \n\t"));
        QVERIFY(!find("sendButton")->isEnabled()); // blanks only
        QVERIFY(find<QPlainTextEdit>("textEditor")->placeholderText().contains(QStringLiteral("Alt+Super+3")));
        type(QStringLiteral("截图没传上去"));
        QTRY_VERIFY(find("sendButton")->isEnabled());

        rig.service.script(QStringLiteral("api/feedback"), QJsonObject{{"status", 500}, {"body", R"({"error":"服务器出错了"})"}});
        QTest::mouseClick(find<QPushButton>("sendButton"), Qt::LeftButton);
        QTRY_VERIFY(model().error().has_value());
        probe.shoot(QStringLiteral("3-error"));

        rig.service.script(QStringLiteral("api/feedback"), QJsonObject{{"delayMs", 400}, {"body", R"({"ok":true})"}});
        QTest::mouseClick(find<QPushButton>("sendButton"), Qt::LeftButton);
        QTRY_COMPARE(find<QPushButton>("sendButton")->text(), QStringLiteral("正在发送…"));
        QVERIFY(!find("sendButton")->isEnabled() && find("cancelButton")->isEnabled());
        probe.shoot(QStringLiteral("4-sending"));
        QTest::keyClick(find("textEditor"), Qt::Key_Escape);
        QVERIFY(!controller->window()->isVisible());
        QTRY_COMPARE(model().sentID().value_or(-1), 0); // the send completed while hidden

        controller->window()->show(); // shown again without a reset: the sent presentation
        QTRY_VERIFY(find("editingPart")->isHidden());
        // Run from the build tree: no update will bring the fix.
        QCOMPARE(find<QLabel>("subtitleLabel")->text(),
                 QStringLiteral("反馈编号 #0。管理员会在后台看到。这个 tarnel 不会自动更新：修好后取回新的源码，再运行 ./scripts/run.sh。"));
        QCOMPARE(FeedbackView::sentLine(12, true), QStringLiteral("反馈编号 #12。管理员会在后台看到，修好后 tarnel 会自动更新。"));
        probe.shoot(QStringLiteral("5-sent"));
        QTest::mouseClick(find<QPushButton>("againButton"), Qt::LeftButton);
        QTRY_VERIFY(!find("editingPart")->isHidden());
        QVERIFY(find<QPlainTextEdit>("textEditor")->toPlainText().isEmpty());
    }
};

QTEST_MAIN(FeedbackWindowTest)
#include "FeedbackWindowTest.moc"
