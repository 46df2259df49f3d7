#include "ui/panel/ShotCardModel.h"

#include <QTest>

namespace {
Server ready(const QString& name, bool remoteKnown = true)
{
    Server s;
    s.name = name;
    s.setup.keyInstalled = true;
    if (remoteKnown)
        s.setup.remoteDirAbsolute = QStringLiteral("/srv/") + name;
    return s;
}

Shot shotWith(const QMap<QString, Upload>& uploads = {})
{
    Shot shot;
    shot.n = 7;
    shot.name = QStringLiteral("20250314-120000-7.png");
    shot.localPath = QStringLiteral("/data/shots/2025-03-14/20250314-120000-7.png");
    shot.uploads = uploads;
    return shot;
}
} // namespace

class ShotCardModelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void displayPath_data()
    {
        QTest::addColumn<QList<Server>>("servers");
        QTest::addColumn<int>("defaultIndex"); // -1: none set
        QTest::addColumn<QString>("path");
        Server off = ready(QStringLiteral("off"));
        off.enabled = false;
        Server keyless = ready(QStringLiteral("keyless"));
        keyless.setup.keyInstalled = false;
        const QString local = shotWith().localPath;
        QTest::newRow("no ready destination") << QList<Server>{off, keyless} << -1 << local;
        QTest::newRow("first ready") << QList<Server>{off, ready("a"), ready("b")} << -1
                                     << "/srv/a/shots/20250314-120000-7.png";
        QTest::newRow("default ready") << QList<Server>{ready("a"), ready("b")} << 1 << "/srv/b/shots/20250314-120000-7.png";
        QTest::newRow("default off: first ready") << QList<Server>{off, ready("a")} << 0
                                                  << "/srv/a/shots/20250314-120000-7.png";
        // The target has no remote folder yet: the local path, even though a later one has.
        QTest::newRow("target without remote folder") << QList<Server>{ready("a", false), ready("b")} << -1 << local;
    }

    void displayPath()
    {
        QFETCH(QList<Server>, servers);
        QFETCH(int, defaultIndex);
        const Shot shot = shotWith();
        const std::optional<QUuid> chosen = defaultIndex < 0 ? std::nullopt : std::optional<QUuid>(servers[defaultIndex].id);
        QTEST(ShotCardModel(shot, servers, chosen, false, false).displayPath(), "path");
    }

    void marks_data()
    {
        QTest::addColumn<std::optional<Upload>>("upload");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<UploadMark>("mark");
        const auto up = [](Upload::State state, std::optional<QString> error = std::nullopt) {
            return std::optional<Upload>(Upload{state, {}, error, {}});
        };
        QTest::newRow("pending") << up(Upload::State::pending) << true << UploadMark{"a ⏳", "orange", "a"};
        QTest::newRow("uploading") << up(Upload::State::uploading) << true << UploadMark{"a ⏳", "orange", "a"};
        QTest::newRow("done") << up(Upload::State::done) << true << UploadMark{"a ✅", "green", "a"};
        QTest::newRow("failed with reason") << up(Upload::State::failed, QStringLiteral("连不上")) << true
                                            << UploadMark{"a ❌", "red", "连不上"};
        QTest::newRow("failed without reason") << up(Upload::State::failed, QString()) << true
                                               << UploadMark{"a ❌", "red", "a"};
        QTest::newRow("skipped") << up(Upload::State::skipped) << true << UploadMark{"a 关", "secondary", "a"};
        QTest::newRow("none, on") << std::optional<Upload>() << true << UploadMark{"a －", "secondary", "a"};
        QTest::newRow("none, off") << std::optional<Upload>() << false << UploadMark{"a 关", "secondary", "a"};
    }

    // One mark per destination with the key installed, switched on or not; its tooltip is the failure.
    void marks()
    {
        QFETCH(std::optional<Upload>, upload);
        QFETCH(bool, enabled);
        Server a = ready(QStringLiteral("a"));
        a.enabled = enabled;
        Server keyless = ready(QStringLiteral("keyless"));
        keyless.setup.keyInstalled = false;
        QMap<QString, Upload> uploads;
        if (upload)
            uploads.insert(a.idText(), *upload);
        const Shot shot = shotWith(uploads);
        const QList<Server> servers{keyless, a};
        QFETCH(UploadMark, mark);
        QCOMPARE(ShotCardModel(shot, servers, std::nullopt, false, false).marks(), QList<UploadMark>{mark});
    }

    void badgeAndCounts_data()
    {
        QTest::addColumn<bool>("selected");
        QTest::addColumn<bool>("latest");
        QTest::addColumn<int>("pasted");
        QTest::addColumn<int>("updated");
        QTest::addColumn<std::optional<BadgeLook>>("badge");
        QTest::addColumn<QStringList>("counts");
        QTest::addColumn<QString>("select");
        QTest::addColumn<QString>("tooltip");
        QTest::newRow("chosen and newest: only the choice")
            << true << true << 0 << 0 << std::optional<BadgeLook>(BadgeLook{"✔ 下次粘这张", "accent"}) << QStringList()
            << "✔ 取消选中" << "点击：取消选中";
        QTest::newRow("newest") << false << true << 2 << 1 << std::optional<BadgeLook>(BadgeLook{"最新", "green"})
                                << QStringList{"📝 粘过 2 次", "🔁 更新 1 次"} << "✔ 下次粘这张"
                                << "点击：下次 Alt+Super+3 粘这张";
        QTest::newRow("plain") << false << false << 0 << 3 << std::optional<BadgeLook>() << QStringList{"🔁 更新 3 次"}
                               << "✔ 下次粘这张" << "点击：下次 Alt+Super+3 粘这张";
    }

    void badgeAndCounts()
    {
        QFETCH(bool, selected);
        QFETCH(bool, latest);
        Shot shot = shotWith();
        QFETCH(int, pasted);
        QFETCH(int, updated);
        shot.pasted = pasted;
        shot.updated = updated;
        const QList<Server> none;
        const ShotCardModel model(shot, none, std::nullopt, selected, latest);
        QTEST(model.badge(), "badge");
        QStringList counts;
        for (const auto& text : {model.pastedText(), model.updatedText()})
            if (text)
                counts << *text;
        QTEST(counts, "counts");
        QTEST(model.selectLabel(), "select");
        QTEST(model.thumbnailTooltip(), "tooltip");
    }
};

QTEST_GUILESS_MAIN(ShotCardModelTest)
#include "ShotCardModelTest.moc"
