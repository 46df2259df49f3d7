#include "ui/settings/SettingsModel.h"

#include <QTest>

using SettingsModel::Stepper;

class SettingsModelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void lines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("blank line and trailing blanks") << "xterm\n\nkitty  \t" << QStringList{"xterm", "kitty"};
        QTest::newRow("every line break") << "a\r\nb\rc\vd\fe\u0085f\u2028g\u2029h"
                                          << QStringList{"a", "b", "c", "d", "e", "f", "g", "h"};
        QTest::newRow("only blanks") << "  \n\t\n" << QStringList{};
        QTest::newRow("duplicates kept, inner blanks kept") << "a b\na b" << QStringList{"a b", "a b"};
    }
    void lines()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, expected);
        QCOMPARE(SettingsModel::lines(text), expected);
    }

    // Steps from a value, up or down, and where they land (stopping at the range's bounds).
    void steppers_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<qint64>("from");
        QTest::addColumn<int>("direction");
        QTest::addColumn<qint64>("to");
        QTest::addColumn<QString>("labelBefore");
        QTest::newRow("hours up below a day") << int(Stepper::keepHours) << qint64(23) << 1 << qint64(24) << "保留：23 小时";
        QTest::newRow("hours up from a day") << int(Stepper::keepHours) << qint64(24) << 1 << qint64(48) << "保留：24 小时";
        QTest::newRow("hours down from two days") << int(Stepper::keepHours) << qint64(48) << -1 << qint64(24) << "保留：48 小时";
        QTest::newRow("hours down from a day") << int(Stepper::keepHours) << qint64(24) << -1 << qint64(1) << "保留：24 小时";
        QTest::newRow("hours at the top") << int(Stepper::keepHours) << qint64(720) << 1 << qint64(720) << "保留：720 小时";
        QTest::newRow("shot bytes truncated") << int(Stepper::shotBytes) << qint64(5'500'000) << 1 << qint64(6'500'000) << "单张上限：5 MB";
        QTest::newRow("shot bytes stop at the top") << int(Stepper::shotBytes) << qint64(7'500'000) << 1 << qint64(8'000'000) << "单张上限：7 MB";
        QTest::newRow("daily limit bottom") << int(Stepper::dailyLimit) << qint64(50) << -1 << qint64(50) << "每天最多：50 张";
        QTest::newRow("folder bytes") << int(Stepper::dirBytes) << qint64(200'000'000) << 1 << qint64(250'000'000) << "本地/服务器各最多：200 MB";
    }
    void steppers()
    {
        QFETCH(int, kind);
        QFETCH(qint64, from);
        QFETCH(int, direction);
        QFETCH(qint64, to);
        QFETCH(QString, labelBefore);
        const auto stepper = Stepper(kind);
        Settings s;
        s.keepHours = stepper == Stepper::keepHours ? int(from) : s.keepHours;
        s.maxShotBytes = stepper == Stepper::shotBytes ? from : s.maxShotBytes;
        s.dailyLimit = stepper == Stepper::dailyLimit ? int(from) : s.dailyLimit;
        s.maxDirBytes = stepper == Stepper::dirBytes ? from : s.maxDirBytes;
        QCOMPARE(SettingsModel::label(stepper, s), labelBefore);
        const Settings after = SettingsModel::stepped(stepper, s, direction);
        QCOMPARE(SettingsModel::value(stepper, after), to);
        QCOMPARE(SettingsModel::canStep(stepper, s, direction), to != from);
    }

    void remoteDirs_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored"); // empty: refused
        QTest::newRow("absolute with blanks around") << "  /srv/shots\t" << "/srv/shots";
        QTest::newRow("home relative") << "~/shots" << "~/shots";
        QTest::newRow("relative") << "shots" << "";
        QTest::newRow("lone tilde") << "~" << "";
        QTest::newRow("home itself") << "~/" << "";
        QTest::newRow("root") << "/" << "";
        QTest::newRow("ssh folder") << "~/.ssh" << "";
        QTest::newRow("inner space") << "~/my shots" << "";
        QTest::newRow("shell text") << "~/$(id)" << "";
    }
    void remoteDirs()
    {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        const auto next = SettingsModel::committedRemoteDir(Settings{}, typed);
        QCOMPARE(next ? next->defaultRemoteDir : QString(), stored);
    }

    void accountLines_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("line");
        QTest::newRow("signed out") << false << int(Account::Status::signedOut) << "还没登录";
        QTest::newRow("active") << true << int(Account::Status::active) << "账号 alice（Alice Liu）";
        QTest::newRow("disabled") << true << int(Account::Status::disabled) << "账号 alice（已停用）";
    }
    void accountLines()
    {
        QFETCH(bool, signedIn);
        QFETCH(int, status);
        QFETCH(QString, line);
        const std::optional<AccountRecord> record =
            signedIn ? std::optional<AccountRecord>(AccountRecord{QStringLiteral("alice"), QStringLiteral("Alice Liu"),
                                                                  QStringLiteral("t"), std::nullopt})
                     : std::nullopt;
        QCOMPARE(SettingsModel::accountLine(record, Account::Status(status)), line);
    }

    // Only the installed bundle on its own data folder sets up a login item or the keep-alive agent.
    void loginItemAvailability()
    {
        QCOMPARE(SettingsModel::loginItemUnavailable(true, false), std::nullopt);
        QVERIFY(SettingsModel::loginItemUnavailable(false, false)->contains(QStringLiteral("构建目录")));
        QVERIFY(SettingsModel::loginItemUnavailable(false, true)->contains(QStringLiteral("构建目录")));
        QVERIFY(SettingsModel::loginItemUnavailable(true, true)->contains(QStringLiteral("TARNEL_DATA")));
        QCOMPARE(SettingsModel::keepAliveUnavailable(true, false), std::nullopt);
        QVERIFY(SettingsModel::keepAliveUnavailable(false, true)->contains(QStringLiteral("构建目录")));
        QVERIFY(SettingsModel::keepAliveUnavailable(true, true)->contains(QStringLiteral("TARNEL_DATA")));
    }
};

QTEST_GUILESS_MAIN(SettingsModelTest)
#include "SettingsModelTest.moc"
