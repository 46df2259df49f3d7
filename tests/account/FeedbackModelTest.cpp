#include "account/FeedbackModel.h"
#include "account/QXServer.h"
#include "state/Log.h"
#include "support/AccountServiceFixture.h"
#include "support/TempDataDir.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTest>

// The feedback form's rules and its upload, against the real account service and its admin (which reads
// every part of the form back). A reply without an id is FeedbackWindowTest's.
class FeedbackModelTest : public QObject {
    Q_OBJECT
    TempDataDir data;
    AccountServiceFixture service;
    std::optional<AccountRecord> record;
    QString logs = data.file(QStringLiteral("logs"));

    static QImage picture(QSize size, QColor fill = Qt::darkCyan)
    {
        QImage img(size, QImage::Format_ARGB32);
        img.fill(fill);
        return img;
    }

    // A model with text and `images` attached, ready to send.
    std::unique_ptr<FeedbackModel> filled(int images)
    {
        auto m = std::make_unique<FeedbackModel>(logs);
        m->setText(QStringLiteral("  热键没反应\n"));
        for (int i = 0; i < images; ++i)
            m->add(picture(QSize(300, 200), QColor::fromHsv(i * 60, 200, 200)));
        return m;
    }

    static void settle(FeedbackModel& m) { QTRY_VERIFY(!m.adding() && !m.sending()); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(service.start(), qPrintable(service.error()));
        QXServer::useURLs(service.url(), AccountServiceFixture::closedURL());
        const QString token = service.signUp(QStringLiteral("fb"), QStringLiteral("secret1"));
        QVERIFY(!token.isEmpty());
        record = AccountRecord{QStringLiteral("fb"), QStringLiteral("fb"), token, std::nullopt};
    }

    void jpegKeepsTheLongSideWithinLimit_data()
    {
        QTest::addColumn<QSize>("input");
        QTest::addColumn<QSize>("output");
        QTest::newRow("fraction cut off") << QSize(3000, 2000) << QSize(2560, 1706);
        QTest::newRow("small kept") << QSize(800, 600) << QSize(800, 600);
        QTest::newRow("thin strip keeps a pixel") << QSize(12000, 2) << QSize(2560, 1);
    }

    void jpegKeepsTheLongSideWithinLimit()
    {
        QFETCH(QSize, input);
        QFETCH(QSize, output);
        const auto bytes = FeedbackModel::jpeg(picture(input), FeedbackModel::maxSide);
        QVERIFY(bytes);
        QCOMPARE(QImage::fromData(*bytes, "JPEG").size(), output);
    }

    void jpegFillsTransparencyWithWhite()
    {
        const QImage decoded = QImage::fromData(*FeedbackModel::jpeg(picture({40, 30}, Qt::transparent), 2560));
        const QColor centre = decoded.pixelColor(20, 15);
        QVERIFY2(centre.red() > 245 && centre.green() > 245 && centre.blue() > 245, qPrintable(centre.name()));
        QVERIFY(!FeedbackModel::jpeg(QImage(), 2560));
    }

    void logTextHeadsTheLinkProgramsTail()
    {
        const QString only = data.file(QStringLiteral("net-only"));
        QVERIFY(QDir().mkpath(only));
        QFile net(only + QStringLiteral("/tarnel-net.log"));
        QVERIFY(net.open(QIODevice::WriteOnly) && net.write("n1\n") == 3);
        net.close();
        QCOMPARE(FeedbackModel::logText(only), QStringLiteral("\n\n===== tarnel-net.log（设备互联，最近 200 行）=====\nn1\n"));
        QCOMPARE(FeedbackModel::logText(data.file(QStringLiteral("nothing"))), QString());
    }

    void atMostSixImagesInOrder()
    {
        auto m = filled(4);
        const QString notAnImage = data.file(QStringLiteral("notes.txt"));
        QFile(notAnImage).open(QIODevice::WriteOnly);
        const QString png = data.file(QStringLiteral("shot.png"));
        QVERIFY(picture({50, 40}, Qt::red).save(png));
        m->addFiles({notAnImage, png, png, png});
        settle(*m);
        QCOMPARE(m->images().size(), FeedbackModel::maxImages);
        QCOMPARE(m->images().at(4).image.pixel(0, 0), QColor(Qt::red).rgb());
        m->add(picture({10, 10}));
        settle(*m);
        QCOMPARE(m->images().size(), FeedbackModel::maxImages);
    }

    void aSentReportGoesToTheServiceAndItsAdmin()
    {
        Log::write(QStringLiteral("反馈测试：日志里的一行"));
        Log::flush();
        auto m = filled(2);
        settle(*m);
        m->send(record, {{QStringLiteral("app"), QStringLiteral("0.1.0 (1)")}});
        QVERIFY(m->sending());
        m->reset(); // reopening while sending must not clear the report
        QCOMPARE(m->images().size(), 2);
        settle(*m);
        QVERIFY2(m->sentID() > 0, qPrintable(m->error().value_or(QString())));
        const QString id = QString::number(*m->sentID());
        QVERIFY(data.logLines().join('\n').contains(QStringLiteral("反馈：已发送 #%1（2 张图 + 日志）").arg(id)));

        const QString folder = data.file(QStringLiteral("images"));
        const auto shown = service.admin({"feedback", "show", id, "--images", folder});
        QCOMPARE(shown.status, 0);
        for (const QString& part : {QStringLiteral("text:\n热键没反应\n"), QStringLiteral("app: 0.1.0 (1)"),
                                    QStringLiteral("2\tscreenshot-2.jpg\t"), QStringLiteral("反馈测试：日志里的一行")})
            QVERIFY2(shown.out.contains(part), qPrintable(part + QStringLiteral(" in\n") + shown.out));
        QCOMPARE(QImage(folder + QStringLiteral("/%1-2.jpg").arg(id)).size(), QSize(300, 200));

        // Reopened after a sent report: an empty form, the log choice kept.
        m->setIncludeLog(false);
        m->reset();
        QVERIFY(m->text().isEmpty() && m->images().isEmpty() && !m->sentID() && !m->includeLog());
    }

    void failuresKeepTheReport_data()
    {
        QTest::addColumn<QJsonObject>("reply");
        QTest::addColumn<QString>("message");
        QTest::newRow("refused") << QJsonObject{{"status", 413}, {"body", R"({"error":"最多附 6 张图"})"}}
                                 << QStringLiteral("最多附 6 张图");
        QTest::newRow("unreadable reply") << QJsonObject{{"body", "nope"}} << QXServer::undecodable(200).message;
        QTest::newRow("service unreachable") << QJsonObject{} << QString(); // the text for the closed address
    }

    void failuresKeepTheReport()
    {
        QFETCH(QJsonObject, reply);
        QFETCH(QString, message);
        const QUrl closed = AccountServiceFixture::closedURL();
        if (reply.isEmpty())
            QXServer::useURLs(closed, closed);
        else
            service.script(QStringLiteral("api/feedback"), reply);
        auto m = filled(1);
        settle(*m);
        m->send(record, {});
        settle(*m);
        QXServer::useURLs(service.url(), closed);
        QCOMPARE(m->error().value_or(QString()), reply.isEmpty() ? QXServer::unreachable(closed).message : message);
        QCOMPARE(data.logLines().value(data.logLines().size() - 1).section(QLatin1Char(' '), 2, -1),
                 QStringLiteral("反馈：没发出去（%1）").arg(*m->error()));
        QVERIFY(!m->sentID() && m->images().size() == 1 && !m->text().isEmpty());
        m->reset(); // unsent text and images survive reopening
        QVERIFY(!m->error() && m->images().size() == 1 && !m->text().isEmpty());
    }

    void signedOutSendsNothing()
    {
        service.resetHooks();
        auto m = filled(0);
        for (const auto& who : {std::optional<AccountRecord>(), std::optional<AccountRecord>(AccountRecord{})}) {
            m->send(who, {});
            QVERIFY(!m->sending());
            QCOMPARE(m->error().value_or(QString()), FeedbackModel::notSignedIn());
        }
        QVERIFY(service.requests().isEmpty());
    }
};

QTEST_GUILESS_MAIN(FeedbackModelTest)
#include "FeedbackModelTest.moc"
