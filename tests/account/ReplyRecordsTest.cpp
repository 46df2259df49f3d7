// The strict decoders of the account service's replies.
#include "account/AuthReply.h"
#include "account/OKReply.h"
#include "account/PingReply.h"
#include "account/UpdateInfo.h"
#include "state/Json.h"

#include <QJsonDocument>
#include <QtTest>

namespace {
QJsonObject object(const char* json) { return QJsonDocument::fromJson(json).object(); }

template <typename T>
bool decodes(const QByteArray& json)
{
    try {
        T::decode(object(json.constData()));
        return true;
    } catch (const JsonError&) {
        return false;
    }
}
} // namespace

class ReplyRecordsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void requiredKeysAndTypes_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        const auto row = [](const char* type, const QByteArray& json, bool ok) {
            QTest::addRow("%s %s", type, json.constData()) << QString::fromLatin1(type) << json << ok;
        };
        const char* rest = R"("username":"a","displayName":"A","role":"user","status":"active")";
        row("auth", QByteArray("{\"token\":\"t\",").append(rest).append('}'), true);
        row("auth", QByteArray("{").append(rest).append('}'), true);
        row("auth", QByteArray("{\"token\":null,").append(rest).append('}'), true);
        row("auth", QByteArray("{\"token\":5,").append(rest).append('}'), false);
        row("auth", R"({"token":"t","username":"a","displayName":"A","role":"user"})", false);
        row("auth", R"({"token":"t","username":"a","displayName":"A","role":null,"status":"active"})", false);
        row("auth", R"({"x":[1],"username":"a","displayName":"A","role":"r","status":"s"})", true);
        row("ping", R"({"account":"active"})", true);
        row("ping", R"({"update":{"available":true}})", false);
        row("ping", R"({"account":"disabled","update":null})", true);
        row("ping", R"({"account":"active","update":{"version":"1.2"}})", false); // a broken offer breaks it all
        row("ping", R"({"account":"active","update":"yes"})", false);
        row("ping", R"({"account":"active","displayName":7})", false);
        row("ok", "{}", true);
        row("ok", R"({"id":1.5})", false);
        row("ok", R"({"id":"12"})", false);
        row("ok", R"({"ok":"true"})", false);
        row("update", "{}", false);
        row("update", R"({"available":1})", false);
        row("update", R"({"available":true,"notes":["a",2]})", false);
        row("update", R"({"available":true,"notes":"a"})", false);
        row("update", R"({"available":true,"build":"14"})", false);
        row("update", R"({"available":true,"build":null,"notes":null})", true);
    }
    void requiredKeysAndTypes()
    {
        QFETCH(QString, type);
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        const bool got = type == u"auth" ? ::decodes<AuthReply>(json)
                         : type == u"ping" ? ::decodes<PingReply>(json)
                         : type == u"ok"   ? ::decodes<OKReply>(json)
                                           : ::decodes<UpdateInfo>(json);
        QCOMPARE(got, decodes);
    }

    void decodedValues()
    {
        const PingReply ping = PingReply::decode(
            object(R"({"account":"active","displayName":"甲","role":"admin","update":{"available":true,"build":9}})"));
        QCOMPARE(ping.displayName, QStringLiteral("甲"));
        QCOMPARE(ping.update->build, qint64(9));
        QVERIFY(!PingReply::decode(object(R"({"account":"active"})")).update);
        QCOMPARE(OKReply::decode(object(R"({"ok":true,"id":9007199254740})")).id, qint64(9007199254740));

        // UpdateInfo writes back exactly the keys it read.
        QCOMPARE(UpdateInfo::decode(object(R"({"available":false})")).encode(), object(R"({"available":false})"));
        const char* fullJson = R"({"available":true,"version":"1.4.0","build":14,"date":"2026-01-02",)"
                               R"("notes":["修复","新功能"],"url":"https://x/y.zip","sha256":"AB","size":123,)"
                               R"("minimumSystem":"12"})";
        const UpdateInfo full = UpdateInfo::decode(object(fullJson));
        QCOMPARE(full.notes, QStringList({QStringLiteral("修复"), QStringLiteral("新功能")}));
        QCOMPARE(full.encode(), object(fullJson));
    }
};

QTEST_GUILESS_MAIN(ReplyRecordsTest)
#include "ReplyRecordsTest.moc"
