#include "account/Diagnostics.h"
#include "account/QXServer.h"
#include "support/AccountServiceFixture.h"
#include "support/TempDataDir.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

// Diagnostics against the real account service: when reports go out, when they are skipped, and what the
// service stores and its admin shows.
class DiagnosticsTest : public QObject {
    Q_OBJECT
    TempDataDir data;
    AccountServiceFixture service;
    QString token;
    QString logs = data.file(QStringLiteral("report-logs"));

    std::unique_ptr<Diagnostics> make(Diagnostics::Schedule schedule = {}, bool on = true)
    {
        auto d = std::make_unique<Diagnostics>(logs, schedule);
        d->enabled = [on] { return on; };
        d->tokenProvider = [this] { return std::optional<QString>(token); };
        return d;
    }

    qsizetype reportsReceived() const { return service.requestsTo(QStringLiteral("/api/diag")).size(); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(service.start(), qPrintable(service.error()));
        QXServer::useURLs(service.url(), service.url());
        token = service.signUp(QStringLiteral("diag"), QStringLiteral("secret1"));
        QVERIFY(!token.isEmpty());
        QVERIFY(QDir().mkpath(logs));
        QFile app(logs + QStringLiteral("/tarnel.log"));
        QVERIFY(app.open(QIODevice::WriteOnly));
        for (int i = 1; i <= 200; ++i)
            app.write("[2025-01-01 00:00:00] line " + QByteArray::number(i) + "\n");
    }

    void init() { service.resetHooks(); }

    void scheduleFollowsLinksAndTheGate()
    {
        bool on = false;
        auto d = make();
        d->enabled = [&on] { return on; };
        const std::optional<QString> none;
        d->noteLinks(QStringLiteral("a|true|connected|direct|direct|0"));
        QCOMPARE(d->pendingReason(), none); // the first signature is only recorded
        d->noteLinks(QStringLiteral("a|true|connected|direct|direct|0"));
        QCOMPARE(d->pendingReason(), none);
        d->noteLinks(QStringLiteral("a|false|||0"));
        QCOMPARE(d->pendingReason(), QStringLiteral("链路变化"));
        d->stop();
        d->noteLinks(QString()); // all peers gone
        QCOMPARE(d->pendingReason(), QStringLiteral("链路变化"));
        d->stop();
        d->noteLinks(QStringLiteral("b|true|||0")); // from none to some: like a first signature
        QCOMPARE(d->pendingReason(), none);

        d->reconsider();
        QVERIFY(!d->running());
        on = true;
        d->reconsider();
        QCOMPARE(d->pendingReason(), QStringLiteral("启动"));
        d->reconsider();
        QCOMPARE(d->pendingReason(), QStringLiteral("开启测试版"));
        d->start(); // already running: no second first report
        QCOMPARE(d->pendingReason(), QStringLiteral("开启测试版"));
        on = false;
        d->reconsider();
        QVERIFY(!d->running() && !d->pendingReason());
    }

    void skippedUploadsSendNothing()
    {
        // Test channel off; signed out; an empty token.
        const QList<std::pair<bool, std::optional<QString>>> cases{
            {false, QStringLiteral("t")}, {true, std::nullopt}, {true, QString()}};
        for (const auto& [enabled, account] : cases) {
            auto d = make({}, enabled);
            d->tokenProvider = [token = account] { return token; };
            d->upload(QStringLiteral("定时"));
            QVERIFY(!d->uploading());
        }
    }

    void reportsReachTheServiceAndItsAdmin()
    {
        auto d = make({10ms, 150ms});
        d->deviceInfo = [] { return Diagnostics::Device{QStringLiteral("工作机"), QStringLiteral("work")}; };
        d->linkStatusReply = [] { return std::optional<QByteArray>(R"({"version":"1.4","peers":[]})"); };
        QSignalSpy done(d.get(), &Diagnostics::finished);
        d->start();
        QTRY_VERIFY(done.size() >= 2);
        QCOMPARE(done.at(0), (QVariantList{QStringLiteral("启动"), true}));
        QCOMPARE(done.at(1), (QVariantList{QStringLiteral("定时"), true}));
        QVERIFY(d->lastUploadAt().has_value());
        QVERIFY(data.logLines().join('\n').contains(QStringLiteral("诊断：已上报（启动；测试版，不含截图）")));
        d->stop();

        QVERIFY(service.admin({"diagnostics", "list"}).out.contains(QStringLiteral("\t启动\t")));
        const auto shown = service.admin({"diagnostics", "show", "1"});
        for (const QString& part : {QStringLiteral("reason: 启动"), QStringLiteral("device: 工作机 / work"),
                                    QStringLiteral("\"version\": \"1.4\""), QStringLiteral("line 52\n"),
                                    QStringLiteral("line 200\n\nnetLog:\n")})
            QVERIFY2(shown.out.contains(part), qPrintable(part + QStringLiteral(" in\n") + shown.out));
        QVERIFY(!shown.out.contains(QStringLiteral("line 51\n"))); // 149 lines and the final empty piece
    }

    void statusIsEmbeddedOnlyAsObjectOrArray()
    {
        const QList<std::pair<std::optional<QByteArray>, QJsonValue::Type>> cases{
            {std::nullopt, QJsonValue::Null}, // the link program does not answer
            {R"({"version":"1"})", QJsonValue::Object}, {"[1,2]", QJsonValue::Array}, {"\"up\"", QJsonValue::Null},
            {"ok", QJsonValue::Null}};
        for (const auto& [reply, type] : cases) {
            const QJsonObject report = Diagnostics::payload(QStringLiteral("定时"), {}, reply, data.file("none"));
            QCOMPARE(report.value(QStringLiteral("status")).type(), type);
            QCOMPARE(report.value(QStringLiteral("netLog")), QJsonValue(QString()));
            QCOMPARE(report.size(), 8);
        }
    }

    void linkChangesCloseTogetherGiveOneReport()
    {
        auto d = make({1h, 1h, 100ms});
        QSignalSpy done(d.get(), &Diagnostics::finished);
        for (const char* signature : {"a", "b", "c", "d"})
            d->noteLinks(QString::fromLatin1(signature));
        QTRY_COMPARE(done.size(), 1);
        QCOMPARE(done.first().at(0).toString(), QStringLiteral("链路变化"));
        QVERIFY(!d->pendingReason());
        QCOMPARE(reportsReceived(), 1);
    }

    void oneUploadAtATimeAndAFailureDoesNotStick()
    {
        auto d = make();
        QSignalSpy done(d.get(), &Diagnostics::finished);
        service.script(QStringLiteral("api/diag"),
                       QJsonObject{{"delayMs", 300}, {"status", 500}, {"body", R"({"error":"服务器出错了"})"}});
        d->upload(QStringLiteral("定时"));
        QVERIFY(d->uploading());
        d->upload(QStringLiteral("定时"));
        QTRY_COMPARE(done.size(), 1);
        QVERIFY(!d->uploading() && !d->lastUploadAt());
        QVERIFY(data.logLines().last().endsWith(QStringLiteral("] 诊断：上报失败 服务器出错了")));
        d->upload(QStringLiteral("定时"));
        QTRY_COMPARE(done.size(), 2);
        QVERIFY(done.last().at(1).toBool());
        QCOMPARE(reportsReceived(), 2);
    }
};

QTEST_GUILESS_MAIN(DiagnosticsTest)
#include "DiagnosticsTest.moc"
