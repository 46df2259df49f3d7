#include "account/LoginForm.h"
#include "account/LoginMemory.h"
#include "account/LoginModel.h"
#include "support/TempSettings.h"

#include <QPromise>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <memory>

// The login card's rules without widgets: when it may submit, what it sends, what a failure or success
// leaves behind, the mode switch and the remembered name. LoginWindowTest drives the same card through its
// widgets (Return chain, notice, reset after the disabled card).
class LoginFormTest : public QObject {
    Q_OBJECT

    using Field = LoginForm::Field;

    TempSettings settings;
    LoginModel model;
    std::unique_ptr<LoginForm> form;
    QList<LoginRequest> sent;
    std::shared_ptr<QPromise<Outcome<>>> pending;

    void answer(const std::optional<QString>& failure)
    {
        pending->addResult(failure ? Outcome<>::failure(*failure) : Outcome<>::success());
        pending->finish();
        QTRY_VERIFY(!form->busy());
    }

    void fill(const QString& user, const QString& password, const QString& name = {}, const QString& invite = {})
    {
        form->setUsername(user);
        form->setPassword(password);
        form->setDisplayName(name);
        form->setInvite(invite);
    }

    void makeForm()
    {
        sent.clear();
        form = std::make_unique<LoginForm>(model, [this](const LoginRequest& request) {
            sent.append(request);
            pending = std::make_shared<QPromise<Outcome<>>>();
            pending->start();
            return pending->future();
        });
    }

private Q_SLOTS:
    void init()
    {
        QSettings(QStringLiteral("tarnel"), QStringLiteral("tarnel")).remove(QStringLiteral("lastUsername"));
        model.setRegistering(false);
        makeForm();
    }

    void canSubmit_data()
    {
        QTest::addColumn<bool>("registering");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("invite");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("login, one-character password") << false << "qx" << "a" << "" << "" << true;
        QTest::newRow("login, blank user name counts") << false << " " << "a" << "" << "" << true;
        QTest::newRow("login, no user name") << false << "" << "secret" << "" << "" << false;
        QTest::newRow("login, no password") << false << "qx" << "" << "" << "" << false;
        QTest::newRow("register, complete") << true << "qx" << "123456" << "Q" << "CODE" << true;
        QTest::newRow("register, five characters") << true << "qx" << "12345" << "Q" << "CODE" << false;
        QTest::newRow("register, name of blanks") << true << "qx" << "123456" << " \t " << "CODE" << false;
        QTest::newRow("register, name with blanks around") << true << "qx" << "123456" << "  Q  " << "CODE" << true;
        QTest::newRow("register, name of a line break") << true << "qx" << "123456" << "\n" << "CODE" << true;
        QTest::newRow("register, invite of one blank") << true << "qx" << "123456" << "Q" << " " << true;
        QTest::newRow("register, no invite") << true << "qx" << "123456" << "Q" << "" << false;
        // Toned thumb and a family of three are one character each.
        QTest::newRow("register, emoji count once (5)")
            << true << "qx" << QString::fromUtf8("👍🏽abcd") << "Q" << "C" << false;
        QTest::newRow("register, emoji count once (6)")
            << true << "qx" << QString::fromUtf8("👨‍👩‍👧abcde") << "Q" << "C" << true;
    }

    void canSubmit()
    {
        QFETCH(bool, registering);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, name);
        QFETCH(QString, invite);
        QFETCH(bool, allowed);
        model.setRegistering(registering);
        fill(user, password, name, invite);
        QCOMPARE(form->canSubmit(), allowed);
        form->submit();
        QCOMPARE(sent.size(), allowed ? 1 : 0);
    }

    // What keeps a registration back is said once something is typed; sign-in only needs both fields.
    void registrationMissingSaysWhat()
    {
        QCOMPARE(form->registrationMissing(), std::nullopt); // sign-in
        model.setRegistering(true);
        QCOMPARE(form->registrationMissing(), std::nullopt); // nothing typed yet
        fill(QString(), QStringLiteral("abc"), QStringLiteral(" "));
        QCOMPARE(form->registrationMissing(), QStringLiteral("密码至少 6 位，现在只有 3 位；还要填：你的名字、账号、邀请码"));
        fill(QStringLiteral("qx"), QString::fromUtf8("👍🏽ab"), QStringLiteral("Q"), QStringLiteral("C"));
        QCOMPARE(form->registrationMissing(), QStringLiteral("密码至少 6 位，现在只有 3 位"));
        fill(QStringLiteral("qx"), QString(), QStringLiteral("Q"), QStringLiteral("C"));
        QCOMPARE(form->registrationMissing(), QStringLiteral("还要填：密码"));
        form->setPassword(QStringLiteral("123456"));
        QCOMPARE(form->registrationMissing(), std::nullopt);
    }

    void failureEmptiesPasswordAndFocusesIt()
    {
        fill(QStringLiteral(" qx "), QStringLiteral(" pw "));
        QSignalSpy focus(form.get(), &LoginForm::focusRequested);
        form->submit();
        QVERIFY(form->busy());
        QVERIFY(!form->canSubmit());
        form->submit(); // one submission at a time
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.first(), (LoginRequest{false, QStringLiteral(" qx "), QStringLiteral(" pw "), {}, {}}));

        answer(QStringLiteral("用户名或密码不对"));
        QCOMPARE(form->error(), QStringLiteral("用户名或密码不对"));
        QCOMPARE(form->password(), QString());
        QCOMPARE(form->username(), QStringLiteral(" qx "));
        QCOMPARE(form->focused(), Field::password);
        QCOMPARE(focus.size(), 1);
        QVERIFY(!LoginMemory::lastUsername().has_value());
    }

    void successRemembersTrimmedNameAndKeepsFields()
    {
        model.setRegistering(true);
        fill(QStringLiteral("\tqx "), QStringLiteral("123456"), QStringLiteral(" 小Q "), QStringLiteral(" C "));
        form->submit();
        QCOMPARE(sent.first(), (LoginRequest{true, QStringLiteral("\tqx "), QStringLiteral("123456"),
                                             QStringLiteral(" 小Q "), QStringLiteral(" C ")}));
        answer(std::nullopt);
        QCOMPARE(LoginMemory::lastUsername(), QStringLiteral("qx"));
        QCOMPARE(form->password(), QStringLiteral("123456"));
        QVERIFY(!form->error());
    }

    void switchModeClearsErrorKeepsFields()
    {
        fill(QStringLiteral("qx"), QStringLiteral("pw"));
        form->submit();
        answer(QStringLiteral("不对"));
        form->setPassword(QStringLiteral("pw2"));
        form->switchMode();
        QVERIFY(model.registering());
        QVERIFY(!form->error());
        QCOMPARE(form->username(), QStringLiteral("qx"));
        QCOMPARE(form->password(), QStringLiteral("pw2"));
        QCOMPARE(form->focused(), Field::displayName);
        form->switchMode();
        QVERIFY(!model.registering());
        QCOMPARE(form->focused(), Field::username);

        // Also while a submission is under way.
        form->submit();
        form->switchMode();
        QVERIFY(model.registering());
        answer(std::nullopt);
    }

    void appearPlacesFocus()
    {
        form->appear();
        QCOMPARE(form->username(), QString());
        QCOMPARE(form->focused(), Field::username);
        model.setRegistering(true);
        form->appear();
        QCOMPARE(form->focused(), Field::displayName);

        // A typed name is never replaced by the remembered one.
        LoginMemory::setLastUsername(QStringLiteral("old"));
        form->setUsername(QStringLiteral("new"));
        model.setRegistering(false);
        form->appear();
        QCOMPARE(form->username(), QStringLiteral("new"));
        QCOMPARE(form->focused(), Field::password);
    }
};

QTEST_GUILESS_MAIN(LoginFormTest)
#include "LoginFormTest.moc"
