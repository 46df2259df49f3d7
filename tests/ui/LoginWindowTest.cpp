#include "account/Account.h"
#include "account/LoginForm.h"
#include "account/LoginMemory.h"
#include "account/QXServer.h"
#include "support/AccountServiceFixture.h"
#include "support/LabelFit.h"
#include "support/SecretScan.h"
#include "support/TempDataDir.h"
#include "support/TempSettings.h"
#include "support/WindowShot.h"
#include "ui/account/DisabledCard.h"
#include "ui/account/LoginCard.h"
#include "ui/account/LoginView.h"
#include "ui/account/LoginWindowController.h"
#include "ui/kit/BusyButton.h"
#include "ui/kit/StatusLabel.h"
#include "ui/kit/SymbolNote.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <memory>

// The login window driven like a person would, against the real account service; a picture of each card
// state goes to <build>/artifacts/login/.
class LoginWindowTest : public QObject {
    Q_OBJECT

    TempDataDir data;
    TempSettings settings;
    AccountServiceFixture service;
    std::unique_ptr<Account> account;
    std::unique_ptr<LoginWindowController> controller;
    int userCount = 0;
    WindowProbe probe{[this] { return window(); }, QStringLiteral("login"), QSize(440, 560)};
    WindowProbe tallProbe{[this] { return window(); }, QStringLiteral("login"), QSize(440, 0)};

    QWidget* window() const { return controller->window(); }
    template <typename T = QWidget>
    T* find(const char* name) const
    {
        // Both cards have a title and footnote: look in the card on show first.
        LoginView* view = controller->view();
        QWidget* card = view->showsDisabledCard() ? static_cast<QWidget*>(view->disabledCard())
                                                  : static_cast<QWidget*>(view->loginCard());
        return card->findChild<T*>(QString::fromLatin1(name));
    }
    QLineEdit* edit(const char* name) const { return find<QLineEdit>(name); }
    QPushButton* button(const char* name) const { return find<QPushButton>(name); }
    void settle() { QCoreApplication::processEvents(); }

    void type(const char* field, const QString& text)
    {
        QLineEdit* e = edit(field);
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Backspace);
        WindowProbe::commit(e, text);
        settle();
    }

    // Return as the window gets it: to the widget with the focus, else to the window.
    void pressReturn()
    {
        QWidget* focus = window()->focusWidget();
        QTest::keyClick(focus ? focus : window(), Qt::Key_Return);
    }

    // Where a field stands once pending layouts are done.
    int topOf(const char* field) const
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        return edit(field)->mapTo(window(), QPoint()).y();
    }

    QString newUser(const QString& password = QStringLiteral("secret1"))
    {
        const QString name = QStringLiteral("win%1").arg(++userCount);
        return service.signUp(name, password).isEmpty() ? QString() : name;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(service.start(), qPrintable(service.error()));
        QXServer::useURLs(service.url(), AccountServiceFixture::closedURL());
    }

    void init()
    {
        AccountRecord::remove();
        QSettings(QStringLiteral("tarnel"), QStringLiteral("tarnel")).clear();
        account = std::make_unique<Account>();
        controller = std::make_unique<LoginWindowController>(*account);
        controller->show(false);
        QVERIFY(QTest::qWaitForWindowExposed(window()));
        settle();
    }

    void cleanup()
    {
        controller.reset();
        account.reset();
    }

    void windowShape()
    {
        QVERIFY(find<StatusLabel>("footnoteLabel")->text().endsWith(QStringLiteral(" · 127.0.0.1"))); // the service's host
        QVERIFY(edit("displayNameField")->isHidden());
        QVERIFY(edit("inviteField")->isHidden());
        QCOMPARE(edit("passwordField")->echoMode(), QLineEdit::Password);
        QCOMPARE(window()->focusWidget(), edit("usernameField"));
        probe.shoot(QStringLiteral("1-login"));
    }

    // Every text of the card is whole: the subtitle breaks only at its blanks; the registration's hint keeps
    // its place whether it shows or not; the longest error (the service down) shows whole with the hint.
    void textsAreWhole()
    {
        auto* subtitle = find<StatusLabel>("subtitleLabel");
        for (int at : LabelFit::lineStarts(*subtitle))
            QVERIFY2(subtitle->text().at(at - 1) == QLatin1Char(' '), qPrintable(subtitle->text().insert(at, QLatin1Char('|'))));

        QTest::mouseClick(button("switchModeButton"), Qt::LeftButton);
        settle();
        const int fieldTop = topOf("inviteField");
        type("displayNameField", QStringLiteral("小新"));
        type("usernameField", QStringLiteral("fresh"));
        type("passwordField", QStringLiteral("12345"));
        QTRY_VERIFY(find<SymbolNote>("missingLine")->isVisible());
        QCOMPARE(topOf("inviteField"), fieldTop);
        type("inviteField", QStringLiteral("CODE"));
        type("passwordField", QStringLiteral("123456"));
        QTRY_VERIFY(find<SymbolNote>("missingLine")->isHidden());
        QCOMPARE(topOf("inviteField"), fieldTop);

        QXServer::useURLs(AccountServiceFixture::closedURL(), AccountServiceFixture::closedURL());
        QTest::mouseClick(button("submitButton"), Qt::LeftButton);
        QTRY_VERIFY(find<SymbolNote>("errorLine")->isVisible());
        QXServer::useURLs(service.url(), AccountServiceFixture::closedURL());
        QVERIFY(find<SymbolNote>("errorLine")->text().contains(QStringLiteral("--listen 127.0.0.1:")));
        QTRY_VERIFY(find<SymbolNote>("missingLine")->isVisible()); // the password was emptied
        probe.shoot(QStringLiteral("3-register-long-error"));

        // A longer answer than any of the service's own: the window grows to show it, and is back after.
        const QString essay = QStringLiteral("邀请码不对。").repeated(30);
        service.script(QStringLiteral("/api/register"),
                       {{QStringLiteral("status"), 400}, {QStringLiteral("body"), QStringLiteral(R"({"error":"%1"})").arg(essay)}});
        type("passwordField", QStringLiteral("123456"));
        QTest::mouseClick(button("submitButton"), Qt::LeftButton);
        QTRY_COMPARE(find<SymbolNote>("errorLine")->text(), essay);
        tallProbe.shoot(QStringLiteral("3-register-longer-error"));
        QVERIFY(window()->height() > 560);
        QTest::mouseClick(button("switchModeButton"), Qt::LeftButton);
        QTRY_COMPARE(window()->height(), 560);
    }

    void closingOnlyHides()
    {
        type("usernameField", QStringLiteral("keep"));
        type("passwordField", QStringLiteral("pw"));
        window()->close();
        QVERIFY(!window()->isVisible());
        controller->show(false);
        settle();
        QVERIFY(window()->isVisible());
        QCOMPARE(edit("usernameField")->text(), QStringLiteral("keep"));
        QCOMPARE(edit("passwordField")->text(), QStringLiteral("pw"));
        QCOMPARE(window()->focusWidget(), edit("passwordField"));
    }

    void submitFollowsTheRules()
    {
        QPushButton* submit = button("submitButton");
        QVERIFY(!submit->isEnabled());
        QTest::mouseClick(button("switchModeButton"), Qt::LeftButton);
        settle();
        QCOMPARE(window()->focusWidget(), edit("displayNameField"));
        // The rules of each field are LoginFormTest's; here the widgets feed them.
        type("displayNameField", QStringLiteral(" Q "));
        type("usernameField", QStringLiteral("qx"));
        type("passwordField", QString::fromUtf8("👍🏽1234"));
        type("inviteField", QStringLiteral("WRONG"));
        QVERIFY(!submit->isEnabled()); // five characters, the emoji counted once
        // The disabled button is not left to speak for itself.
        QTRY_VERIFY(find<SymbolNote>("missingLine")->isVisible());
        QCOMPARE(find<SymbolNote>("missingLine")->text(), QStringLiteral("密码至少 6 位，现在只有 5 位"));
        probe.shoot(QStringLiteral("3-register-missing"));
        type("passwordField", QString::fromUtf8("👍🏽12345"));
        QVERIFY(submit->isEnabled());
        QTRY_VERIFY(find<SymbolNote>("missingLine")->isHidden());

        // Return walks the fields; in the invitation field it submits (here: a wrong code).
        edit("displayNameField")->setFocus();
        QTest::keyClick(edit("displayNameField"), Qt::Key_Return);
        settle();
        QCOMPARE(window()->focusWidget(), edit("usernameField"));
        QTest::keyClick(edit("usernameField"), Qt::Key_Return);
        settle();
        QCOMPARE(window()->focusWidget(), edit("passwordField"));
        QTest::keyClick(edit("passwordField"), Qt::Key_Return);
        settle();
        QCOMPARE(window()->focusWidget(), edit("inviteField"));
        QTest::keyClick(edit("inviteField"), Qt::Key_Return);
        QTRY_VERIFY(find<SymbolNote>("errorLine")->isVisible());
        QCOMPARE(find<SymbolNote>("errorLine")->text(), QStringLiteral("邀请码不对"));
        QCOMPARE(find<SymbolNote>("errorLine")->label()->textFormat(), Qt::PlainText);
        QCOMPARE(find<SymbolNote>("errorLine")->label()->property("colorRole").toString(), QStringLiteral("red"));
        QCOMPARE(edit("passwordField")->text(), QString());
        QCOMPARE(window()->focusWidget(), edit("passwordField"));
        QCOMPARE(edit("displayNameField")->text(), QStringLiteral(" Q "));
        probe.shoot(QStringLiteral("3-register-error"));

        // Switching mode clears the error and keeps the fields.
        QTest::mouseClick(button("switchModeButton"), Qt::LeftButton);
        settle();
        QVERIFY(find<SymbolNote>("errorLine")->isHidden());
        QCOMPARE(edit("usernameField")->text(), QStringLiteral("qx"));
        QCOMPARE(window()->focusWidget(), edit("usernameField"));
    }

    void registersAndSignsIn()
    {
        const QString invite = service.createInvite();
        QTest::mouseClick(button("switchModeButton"), Qt::LeftButton);
        settle();
        type("displayNameField", QStringLiteral("小新"));
        type("usernameField", QStringLiteral(" fresh "));
        type("passwordField", QStringLiteral("123456"));
        type("inviteField", invite);
        QTest::mouseClick(button("submitButton"), Qt::LeftButton);
        QTRY_VERIFY(account->isUsable());
        QCOMPARE(account->record()->username, QStringLiteral("fresh"));
        QTRY_VERIFY(button("submitButton")->isEnabled());
        QCOMPARE(LoginMemory::lastUsername(), QStringLiteral("fresh"));
        QCOMPARE(edit("usernameField")->text(), QStringLiteral(" fresh ")); // the card keeps what was typed
    }

    void signingOutForgetsThePassword()
    {
        const QString name = newUser();
        QVERIFY(!name.isEmpty());
        type("usernameField", name);
        type("passwordField", QStringLiteral("secret1"));
        QTest::keyClick(edit("passwordField"), Qt::Key_Return);
        QTRY_VERIFY(account->isUsable());
        QTRY_VERIFY(button("submitButton")->isEnabled());

        account->signOut();
        controller->show(false);
        settle();
        QCOMPARE(edit("usernameField")->text(), name);
        QCOMPARE(edit("passwordField")->text(), QString());
        QVERIFY(!button("submitButton")->isEnabled());
        probe.shoot(QStringLiteral("6-signed-out"));
        QTest::keyClick(edit("passwordField"), Qt::Key_Return);
        settle();
        QVERIFY(!account->record().has_value());
    }

    void noticeOnlyInLoginMode()
    {
        account->signOut(Account::invalidLoginNotice());
        settle();
        auto* notice = find<SymbolNote>("noticeLine");
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->text(), Account::invalidLoginNotice());
        probe.shoot(QStringLiteral("2-login-notice"));
        account->signOut(Account::removedDeviceNotice()); // this computer was removed on another one
        settle();
        QCOMPARE(notice->text(), Account::removedDeviceNotice());
        probe.shoot(QStringLiteral("2-login-removed-notice"));
        QTest::mouseClick(button("switchModeButton"), Qt::LeftButton);
        settle();
        QVERIFY(notice->isHidden());
        // Showing the window sets the mode back to sign-in.
        controller->show(false);
        settle();
        QVERIFY(notice->isVisible());
    }

    void disabledCard()
    {
        const QString name = newUser();
        QVERIFY(!name.isEmpty());
        QVERIFY(service.admin({QStringLiteral("users"), QStringLiteral("disable"), name}).status == 0);
        type("usernameField", QStringLiteral(" ") + name);
        type("passwordField", QStringLiteral("secret1"));
        QTest::keyClick(edit("passwordField"), Qt::Key_Return);
        QTRY_VERIFY(controller->view()->showsDisabledCard());
        auto* explanation = find<StatusLabel>("explanationLabel");
        QVERIFY(explanation->text().startsWith(QStringLiteral("管理员停用了账号「") + name + QStringLiteral("」。")));
        QCOMPARE(explanation->textFormat(), Qt::PlainText);
        QVERIFY(button("recheckButton")->isVisible() && button("switchAccountButton")->isVisible()
                && button("quitButton")->isVisible());
        probe.shoot(QStringLiteral("4-disabled"));

        // The shell ends the process on the controller's request (it does not go through closing windows).
        QSignalSpy quit(controller.get(), &LoginWindowController::quitRequested);
        QTest::mouseClick(button("quitButton"), Qt::LeftButton);
        QCOMPARE(quit.size(), 1);

        // Switching account signs out and brings back a fresh login card with the remembered name.
        LoginMemory::setLastUsername(QStringLiteral("last"));
        QTest::mouseClick(button("switchAccountButton"), Qt::LeftButton);
        QTRY_VERIFY(!controller->view()->showsDisabledCard());
        settle();
        QCOMPARE(account->status(), Account::Status::signedOut);
        QVERIFY(!controller->model().registering());
        QCOMPARE(edit("usernameField")->text(), QStringLiteral("last"));
        QCOMPARE(edit("passwordField")->text(), QString());
        QVERIFY(find<SymbolNote>("errorLine")->isHidden());
    }

    // Refused at sign-in as disabled there is no saved sign-in to check in with: the card's re-check signs in
    // again with what was typed (held in memory only), and restores the account once it is enabled.
    void recheckAfterARefusedSignInRestoresTheAccount()
    {
        const QString name = newUser(QStringLiteral("held-pw-77"));
        QVERIFY(!name.isEmpty());
        QVERIFY(service.admin({QStringLiteral("users"), QStringLiteral("disable"), name}).status == 0);
        type("usernameField", name);
        type("passwordField", QStringLiteral("held-pw-77"));
        QTest::keyClick(edit("passwordField"), Qt::Key_Return);
        QTRY_VERIFY(controller->view()->showsDisabledCard());
        QVERIFY(!account->record());
        settle();
        pressReturn(); // at once, with nothing clicked before
        QTRY_COMPARE(find<StatusLabel>("resultLabel")->text(), QStringLiteral("账号已停用"));

        QTest::mouseClick(button("recheckButton"), Qt::LeftButton);
        QTRY_COMPARE(find<StatusLabel>("resultLabel")->text(), QStringLiteral("账号已停用"));
        QVERIFY(controller->view()->showsDisabledCard());
        probe.shoot(QStringLiteral("5-refused-rechecked"));

        QVERIFY(service.admin({QStringLiteral("users"), QStringLiteral("enable"), name}).status == 0);
        QTest::mouseClick(button("recheckButton"), Qt::LeftButton);
        QTRY_VERIFY(account->isUsable());
        QCOMPARE(account->record()->username, name);
        QCOMPARE(LoginMemory::lastUsername(), name);
        QTRY_VERIFY(!controller->view()->showsDisabledCard());
        QCOMPARE(filesHolding(data.path(), "held-pw-77") + filesHolding(settings.path(), "held-pw-77"), QStringList());
    }

    void recheckShowsItsAnswer()
    {
        const QString name = newUser();
        QVERIFY(!name.isEmpty());
        account->signIn(name, QStringLiteral("secret1")); // the card's own sign-in is the other cases'
        QTRY_VERIFY(account->lastPingAt().has_value());
        QVERIFY(service.admin({QStringLiteral("users"), QStringLiteral("disable"), name}).status == 0);
        account->ping(false);
        QTRY_VERIFY(controller->view()->showsDisabledCard());

        auto* recheck = qobject_cast<BusyButton*>(button("recheckButton"));
        service.script(QStringLiteral("/api/app/ping"),
                       {{QStringLiteral("delayMs"), 600}, {QStringLiteral("body"), QStringLiteral(R"({"account":"disabled"})")}});
        QTest::mouseClick(recheck, Qt::LeftButton);
        settle();
        QVERIFY(recheck->busy());
        QVERIFY(!recheck->isEnabled());
        QTest::mouseClick(recheck, Qt::LeftButton); // a second press does nothing
        QTRY_VERIFY(!recheck->busy());
        QCOMPARE(find<StatusLabel>("resultLabel")->text(), QStringLiteral("账号已停用"));
        QVERIFY(find<StatusLabel>("resultLabel")->isVisible());
        probe.shoot(QStringLiteral("5-disabled-rechecked"));

        // The longest answer, the check-in limit, shows whole.
        service.script(QStringLiteral("/api/app/ping"),
                       {{QStringLiteral("status"), 429},
                        {QStringLiteral("body"), QStringLiteral(R"({"error":"报到太频繁了，请 566 秒后再试"})")}});
        QTest::mouseClick(recheck, Qt::LeftButton);
        QTRY_COMPARE(find<StatusLabel>("resultLabel")->text(),
                     QStringLiteral("暂时连不上服务器（报到太频繁了，请 566 秒后再试），下次自动再试"));
        probe.shoot(QStringLiteral("5-disabled-check-in-limit"));

        // Enabled again: Return re-checks, the account is usable and the login card returns.
        QVERIFY(service.admin({QStringLiteral("users"), QStringLiteral("enable"), name}).status == 0);
        QTest::keyClick(controller->view()->disabledCard(), Qt::Key_Return);
        QTRY_VERIFY(account->isUsable());
        QTRY_VERIFY(!controller->view()->showsDisabledCard());
    }
};

QTEST_MAIN(LoginWindowTest)
#include "LoginWindowTest.moc"
