#include "servers/PasswordLogin.h"
#include "servers/SshCommand.h"
#include "state/Log.h"
#include "support/SecretScan.h"
#include "support/SshServerFixture.h"
#include "support/TempDataDir.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent/QtConcurrentRun>

namespace {

const QString password = QStringLiteral("Tr0ub4dor&3 密码");

// Stands in for ssh: asks like ssh does, checks the answer against a hash (so the password itself is
// nowhere but in the test's memory), then writes as many bytes as its second argument says.
const QByteArray prompter = R"SH(#!/bin/sh
stty -echo; printf '%s' "me@example's password: "
read -r answer; stty echo; echo
if [ "$(printf '%s' "$answer" | sha256sum | cut -d' ' -f1)" = "$1" ]; then
  echo "logged in"; head -c "${2:-0}" /dev/zero | tr -c x x; echo "TARNEL_DONE"; exit 0
fi
echo "Permission denied, please try again."
stty -echo; printf '%s' "me@example's password: "
read -r answer
exit 255
)SH";

QString passwordHash() { return QString::fromLatin1(QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Sha256).toHex()); }

// Runs the login on a worker and scans the process table and the folders while it runs.
struct WatchedRun {
    PasswordLogin::Result result;
    QStringList leaks;
};

WatchedRun runWatched(const QString& program, const QStringList& args, const QStringList& folders)
{
    WatchedRun watched;
    auto future = QtConcurrent::run([&] { return PasswordLogin::run(program, args, password, 30); });
    const QByteArray secret = password.toUtf8();
    while (!future.isFinished()) {
        watched.leaks << processesHolding(secret);
        for (const QString& folder : folders)
            watched.leaks << filesHolding(folder, secret);
        QThread::msleep(100);
    }
    watched.result = future.result();
    Log::flush();
    for (const QString& folder : folders)
        watched.leaks << filesHolding(folder, secret);
    watched.leaks.removeDuplicates();
    return watched;
}

} // namespace

class PasswordLoginTest : public QObject {
    Q_OBJECT
    TempDataDir data;
    QTemporaryDir tools;
    QString fake;

private Q_SLOTS:
    void initTestCase()
    {
        fake = tools.filePath(QStringLiteral("fake-ssh"));
        QFile file(fake);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(prompter);
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    void prompts()
    {
        QVERIFY(PasswordLogin::endsWithPrompt(QStringLiteral("me@host's password: ")));
        QVERIFY(PasswordLogin::endsWithPrompt(QStringLiteral("banner\nPassword:")));
        QVERIFY(PasswordLogin::endsWithPrompt(QStringLiteral("(me@host) Password for me@host: ")));
        QVERIFY(!PasswordLogin::endsWithPrompt(QStringLiteral("me@host's password: typed\n")));
        QVERIFY(!PasswordLogin::endsWithPrompt(QStringLiteral("Enter passphrase for key '/k': ")));
        QVERIFY(!PasswordLogin::endsWithPrompt(QStringLiteral("password\n: ")));
    }

    // Large output after the login: read in step, never scanned again from the start; past the cap
    // the program is stopped and the run fails.
    void largeOutputAfterTheLogin_data()
    {
        QTest::addColumn<int>("bytes");
        QTest::addColumn<bool>("whole");
        QTest::newRow("under the cap") << 1000 * 1000 << true;
        QTest::newRow("a flood") << 40 * 1000 * 1000 << false;
    }
    void largeOutputAfterTheLogin()
    {
        QFETCH(int, bytes);
        QFETCH(bool, whole);
        QElapsedTimer clock;
        clock.start();
        const auto result = PasswordLogin::run(fake, {passwordHash(), QString::number(bytes)}, password, 60);
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!result.passwordRejected);
        QCOMPARE(result.run.succeeded(), whole);
        QCOMPARE(result.run.overflowed, !whole);
        QVERIFY(result.run.stdout.size() <= ProcessRunner::outputCap);
        QCOMPARE(result.run.stdout.endsWith(QLatin1String("TARNEL_DONE\n")), whole);
    }

    void wrongPasswordIsRejectedAtTheSecondPrompt()
    {
        QElapsedTimer clock;
        clock.start();
        const auto result = PasswordLogin::run(fake, {QStringLiteral("not-the-hash")}, password, 30);
        QVERIFY(result.passwordRejected);
        QVERIFY(result.run.status != 0);
        QVERIFY(clock.elapsed() < 5000);
    }

    void timeOutAndCancelEndTheProgram()
    {
        QElapsedTimer clock;
        clock.start();
        auto result = PasswordLogin::run(QStringLiteral("/bin/sleep"), {QStringLiteral("30")}, password, 0.3);
        QVERIFY(result.run.timedOut);
        QVERIFY(clock.elapsed() < 5000);

        ProcessRunner::CancelToken cancel;
        auto future = QtConcurrent::run([&] {
            return PasswordLogin::run(QStringLiteral("/bin/sleep"), {QStringLiteral("30")}, password, 60, cancel);
        });
        QThread::msleep(200);
        cancel.cancel();
        result = future.result();
        QVERIFY(result.run.cancelled);
        QVERIFY(!result.run.succeeded());
    }

    void neverTypedWhereItWouldShow()
    {
        // A prompt on a terminal that still echoes is left unanswered.
        const auto result = PasswordLogin::run(QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"), QStringLiteral("printf 'Password: '; read -r x; echo \"got $x\"")}, password, 1);
        QVERIFY(result.run.timedOut);
        QVERIFY(!result.run.stdout.contains(password));
    }

    void missingProgram()
    {
        const auto result = PasswordLogin::run(QStringLiteral("/nonexistent/ssh"), {}, password, 5);
        QCOMPARE(result.run.status, 127);
    }

    void realSshdByPassword()
    {
        if (!SshServerFixture::canCreateAccounts())
            QSKIP("password logins need an account of their own (run as root)");
        SshServerFixture sshd;
        const auto account = sshd.account(QStringLiteral("tarnel-pwuser"));
        QVERIFY(account);
        QVERIFY(sshd.setPassword(*account, password));
        const auto started = sshd.start();
        QVERIFY2(!started, qPrintable(started.value_or(QString())));

        const SshCommand::Target target {sshd.host(), sshd.port(), account->name, std::nullopt};
        const auto args = SshCommand::passwordLogin(target,
            SshCommand::scriptCommand(QStringLiteral("sleep 1\necho \"TARNEL_HOSTNAME $(id -un)\"\n")));
        QVERIFY(args);
        QVERIFY(!args->join(' ').contains(password));
        const WatchedRun run = runWatched(ProcessRunner::sshPath(), *args, {data.path(), account->home});
        QVERIFY2(run.result.run.status == 0, qPrintable(run.result.run.stdout + sshd.log()));
        QVERIFY(run.result.run.stdout.contains(QStringLiteral("TARNEL_HOSTNAME %1\n").arg(account->name)));
        QVERIFY(!run.result.run.stdout.contains(password)); // the terminal did not echo it
        QCOMPARE(run.leaks, QStringList());

        const auto wrong = PasswordLogin::run(ProcessRunner::sshPath(), *args, QStringLiteral("wrong"), 30);
        QVERIFY(wrong.passwordRejected);
        // ssh ends by itself (255) or by the stop that follows the refusal, whichever comes first.
        QVERIFY(!wrong.run.succeeded());
    }

    // The machine-wide lock on a test account's name, a file in /tmp, goes with the account.
    void accountLocksLeaveNothing()
    {
        if (!SshServerFixture::canCreateAccounts())
            QSKIP("test accounts are made only as root");
        QString name;
        {
            SshServerFixture sshd;
            const auto account = sshd.account(QStringLiteral("tarnel-lockuser"));
            QVERIFY(account);
            name = account->name;
        }
        QCOMPARE(QDir(QStringLiteral("/tmp")).entryList({QStringLiteral("tarnel-test-account-*") + name + QStringLiteral("*")}), QStringList());
    }
};

QTEST_GUILESS_MAIN(PasswordLoginTest)
#include "PasswordLoginTest.moc"
