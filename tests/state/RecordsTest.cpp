#include "state/Json.h"
#include "state/Settings.h"
#include "state/StateFile.h"
#include "support/TempDataDir.h"

#include <QJsonDocument>
#include <QFile>
#include <QTest>

class RecordsTest : public QObject {
    Q_OBJECT
    TempDataDir data;

    static QJsonObject parse(const char* text) { return Json::decodeObject(QByteArray(text)); }

private Q_SLOTS:
    void settingsRoundTripAndHandEditedValues()
    {
        QCOMPARE(Settings::fromJson({}), Settings{}); // every missing key takes its default
        Settings s;
        s.pasteMode = PasteMode::zeroPermission;
        s.defaultServerID = QUuid::createUuid();
        s.keepAliveStamp = QDateTime(QDate(2026, 10, 18), QTime(15, 30, 12), Qt::UTC);
        s.localTitlePatterns = {QStringLiteral("^local")};
        s.terminalBundleIDs = {};
        QCOMPARE(Settings::fromJson(Json::decodeObject(Json::encode(s.toJson()))), s);

        // Out-of-range and mistyped values fall back or are brought into range; an emptied list stays empty.
        const Settings odd = Settings::fromJson(parse(
            R"({"dailyLimit": 999999, "maxShotBytes": 5, "tokenFormat": "no placeholders",
                "pasteMode": "telepathy", "onboardingTarget": "moon", "maxLongSide": "big",
                "terminalBundleIDs": []})"));
        Settings mended;
        mended.dailyLimit = 2000;
        mended.maxShotBytes = 1'000'000;
        mended.terminalBundleIDs = {};
        QCOMPARE(odd, mended);
    }

    void stateFileRoundTripWritesIsoDatesAndUpperCaseIds()
    {
        Server server;
        server.host = QStringLiteral("example.org");
        server.name = server.host;
        server.user = QStringLiteral("me");
        server.setup.keyInstalled = true;
        server.setup.lastProbe = ProbeRecord{QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC), true,
                                             QStringLiteral("me"), QStringLiteral("box"), std::nullopt, 1.5};
        Shot shot;
        shot.n = 7;
        shot.ts = QDateTime(QDate(2026, 10, 18), QTime(15, 30, 12), Qt::UTC);
        shot.name = QStringLiteral("20261018-153012-7.png");
        shot.uploads.insert(server.idText(), Upload{Upload::State::done, QStringLiteral("/r/shots/x"), {}, shot.ts});
        StateFile file;
        file.servers = {server};
        file.shots = {shot};
        file.lastHash = QStringLiteral("abc");

        const QByteArray bytes = Json::encode(file.toJson());
        QCOMPARE(StateFile::fromJson(Json::decodeObject(bytes)), file);
        QVERIFY(bytes.contains("\"ts\": \"2026-10-18T15:30:12Z\""));
        QVERIFY(bytes.contains(server.id.toString(QUuid::WithoutBraces).toUpper().toUtf8()));
        QVERIFY(!bytes.contains("null")); // absent optionals are left out
        QVERIFY(bytes.indexOf("\"lastHash\"") < bytes.indexOf("\"servers\"")); // sorted keys
    }

    void missingKeysTakeDefaults()
    {
        const StateFile f = StateFile::fromJson(parse(R"({"servers": [{"host": "h"}], "shots": [{}]})"));
        QCOMPARE(f.servers.size(), 1);
        QVERIFY(!f.servers[0].id.isNull());
        // Every other field takes its default; the name falls back to the host, id and times are made up.
        Server server;
        server.host = server.name = QStringLiteral("h");
        server.id = f.servers[0].id;
        server.addedAt = f.servers[0].addedAt;
        QCOMPARE(f.servers[0], server);
        Shot shot;
        shot.ts = f.shots[0].ts;
        QCOMPARE(f.shots, QList<Shot>{shot});

        // A shot that lost its time takes its file's time, so retention does not purge it as ancient.
        const QString file = data.file(QStringLiteral("kept.png"));
        QFile(file).open(QIODevice::WriteOnly);
        const Shot untimed = Shot::fromJson(QJsonObject{{QStringLiteral("localPath"), file}});
        QVERIFY(qAbs(untimed.ts.secsTo(QDateTime::currentDateTimeUtc())) < 60);
    }

    void badNestedRecordIsDroppedAloneAndLogged()
    {
        const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
        const QString other = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const QString text = QStringLiteral(R"({"shots": [{"name": "a.png", "uploads": {
              "%1": {"state": "done", "at": "2026-01-01T00:00:00.250+02:00"},
              "%2": {"remotePath": "/x"},
              "not-a-uuid": {"state": "done"}}}],
            "servers": [{"host": "h", "setup": {"keyInstalled": true, "lastProbe": {"ok": true, "elapsed": 1}}}]})")
                                 .arg(id, other);
        const StateFile f = StateFile::fromJson(Json::decodeObject(text.toUtf8()));
        QCOMPARE(f.shots[0].uploads.size(), 1);
        // Keys are normalised to upper case; offsets and fractions are read.
        const Upload u = f.shots[0].uploads.value(id.toUpper());
        QCOMPARE(u.state, Upload::State::done);
        QCOMPARE(u.at->toUTC(), QDateTime(QDate(2025, 12, 31), QTime(22, 0, 0, 250), Qt::UTC));
        QVERIFY(f.servers[0].setup.keyInstalled);
        QVERIFY(!f.servers[0].setup.lastProbe);
        const QString log = data.logLines().join(QLatin1Char('\n'));
        QVERIFY(log.contains(QStringLiteral("坏的上传记录")));
        QVERIFY(log.contains(QStringLiteral("坏的探测记录")));
    }

    void strictRecordsRequireTheirKeys()
    {
        QVERIFY_THROWS_EXCEPTION(JsonError, Seq::fromJson(parse(R"({"date": "20260101"})")));
        QVERIFY_THROWS_EXCEPTION(JsonError, Seq::fromJson(parse(R"({"date": "20260101", "n": null})")));
        QVERIFY_THROWS_EXCEPTION(JsonError, Upload::fromJson(parse(R"({"state": "lost"})")));
        QVERIFY_THROWS_EXCEPTION(JsonError, ProbeRecord::fromJson(parse(R"({"at": "2026-01-01T00:00:00", "ok": true, "elapsed": 1})")));
        QCOMPARE(Seq::fromJson(parse(R"({"date": "20260101", "n": 3})")).n, qint64(3));
    }
};

QTEST_GUILESS_MAIN(RecordsTest)
#include "RecordsTest.moc"
