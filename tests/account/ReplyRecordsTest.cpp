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
bool decodes(const char* json)
{
    try {
        T::decode(object(json));
        return true;
    } catch (const JsonError&) {
        return false;
    }
}
} // namespace

class ReplyRecordsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void authReplyNeedsEveryRequiredKey_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        QTest::newRow("complete") << QByteArray(R"({"token":"t","username":"a","displayName":"A","role":"user","status":"active"})") << true;
        QTest::newRow("no token") << QByteArray(R"({"username":"a","displayName":"A","role":"user","status":"active"})") << true;
        QTest::newRow("null token") << QByteArray(R"({"token":null,"username":"a","displayName":"A","role":"user","status":"active"})") << true;
        QTest::newRow("no status") << QByteArray(R"({"token":"t","username":"a","displayName":"A","role":"user"})") << false;
        QTest::newRow("no role") << QByteArray(R"({"token":"t","username":"a","displayName":"A","status":"active"})") << false;
        QTest::newRow("null role") << QByteArray(R"({"token":"t","username":"a","displayName":"A","role":null,"status":"active"})") << false;
        QTest::newRow("numeric token") << QByteArray(R"({"token":5,"username":"a","displayName":"A","role":"user","status":"active"})") << false;
        QTest::newRow("extra keys") << QByteArray(R"({"x":[1],"username":"a","displayName":"A","role":"r","status":"s"})") << true;
    }
    void authReplyNeedsEveryRequiredKey()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QCOMPARE(::decodes<AuthReply>(json.constData()), decodes);
    }

    void pingReplyNeedsOnlyTheAccountWord()
    {
        const PingReply bare = PingReply::decode(object(R"({"account":"active"})"));
        QCOMPARE(bare.account, QStringLiteral("active"));
        QVERIFY(!bare.displayName && !bare.role && !bare.update);
        QVERIFY(!decodes<PingReply>(R"({"update":{"available":true}})"));
        QVERIFY(decodes<PingReply>(R"({"account":"disabled","update":null})"));
        // A broken offer breaks the whole reply.
        QVERIFY(!decodes<PingReply>(R"({"account":"active","update":{"version":"1.2"}})"));
        QVERIFY(!decodes<PingReply>(R"({"account":"active","update":"yes"})"));
        QVERIFY(!decodes<PingReply>(R"({"account":"active","displayName":7})"));

        const PingReply full = PingReply::decode(
            object(R"({"account":"active","displayName":"甲","role":"admin","update":{"available":true,"build":9}})"));
        QCOMPARE(full.displayName, QStringLiteral("甲"));
        QCOMPARE(full.update->build, qint64(9));
    }

    void okReplyIsAllOptional()
    {
        const OKReply empty = OKReply::decode(object("{}"));
        QVERIFY(!empty.ok && !empty.id);
        const OKReply full = OKReply::decode(object(R"({"ok":true,"id":9007199254740})"));
        QCOMPARE(full.id, qint64(9007199254740));
        QVERIFY(!decodes<OKReply>(R"({"id":1.5})"));
        QVERIFY(!decodes<OKReply>(R"({"id":"12"})"));
        QVERIFY(!decodes<OKReply>(R"({"ok":"true"})"));
    }

    void updateInfoDecodesAndEncodesTheSameKeys()
    {
        const UpdateInfo bare = UpdateInfo::decode(object(R"({"available":false})"));
        QVERIFY(!bare.available);
        QVERIFY(!bare.version && !bare.build && !bare.notes && !bare.url && !bare.sha256 && !bare.size);
        QCOMPARE(bare.encode(), object(R"({"available":false})"));

        const char* fullJson = R"({"available":true,"version":"1.4.0","build":14,"date":"2026-01-02",)"
                               R"("notes":["修复","新功能"],"url":"https://x/y.zip","sha256":"AB","size":123,)"
                               R"("minimumSystem":"12"})";
        const UpdateInfo full = UpdateInfo::decode(object(fullJson));
        QCOMPARE(full.notes, QStringList({QStringLiteral("修复"), QStringLiteral("新功能")}));
        QCOMPARE(full.encode(), object(fullJson));
        QCOMPARE(UpdateInfo::decode(full.encode()), full);

        QVERIFY(!decodes<UpdateInfo>(R"({})"));
        QVERIFY(!decodes<UpdateInfo>(R"({"available":1})"));
        QVERIFY(!decodes<UpdateInfo>(R"({"available":true,"notes":["a",2]})"));
        QVERIFY(!decodes<UpdateInfo>(R"({"available":true,"notes":"a"})"));
        QVERIFY(!decodes<UpdateInfo>(R"({"available":true,"build":"14"})"));
        QVERIFY(decodes<UpdateInfo>(R"({"available":true,"build":null,"notes":null})"));
    }
};

QTEST_GUILESS_MAIN(ReplyRecordsTest)
#include "ReplyRecordsTest.moc"
