#include "account/Account.h"
#include "account/QXServer.h"
#include "support/AccountServiceFixture.h"
#include "support/TempDataDir.h"
#include "support/TempSettings.h"
#include "support/WindowShot.h"
#include "ui/account/LoginView.h"
#include "ui/account/LoginWindowController.h"

#include <QApplication>
#include <QDir>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

// Renders the login window in each card state on a real X server and keeps the pictures in
// <build>/artifacts/login/ for a person to look at.
class LoginScreenshotTest : public QObject {
    Q_OBJECT

    TempDataDir data;
    TempSettings settings;
    AccountServiceFixture service;
    std::unique_ptr<Account> account;
    std::unique_ptr<LoginWindowController> controller;
    QString folder = QStringLiteral(TARNEL_BINARY_DIR "/artifacts/login");

    QWidget* window() const { return controller->window(); }
    template <typename T>
    T* child(const char* name) const
    {
        return window()->findChild<T*>(QString::fromLatin1(name));
    }
    void type(const char* field, const QString& text)
    {
        QInputMethodEvent input;
        input.setCommitString(text);
        QApplication::sendEvent(child<QLineEdit>(field), &input);
    }

    void shoot(const QString& name)
    {
        const QString problem = saveWindowShot(window(), folder, name, QSize(440, 560));
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs a real X server (DISPLAY)");
        QVERIFY2(service.start(), qPrintable(service.error()));
        QXServer::useURLs(service.url(), service.url());
        QVERIFY(QDir().mkpath(folder));
        account = std::make_unique<Account>();
        controller = std::make_unique<LoginWindowController>(*account);
        controller->show(false);
        QVERIFY(QTest::qWaitForWindowExposed(window()));
    }

    void cleanupTestCase()
    {
        controller.reset();
        account.reset();
    }

    void loginCards()
    {
        shoot(QStringLiteral("1-login"));
        account->signOut(Account::invalidLoginNotice());
        type("usernameField", QStringLiteral("qx"));
        type("passwordField", QStringLiteral("wrong"));
        QTest::keyClick(child<QLineEdit>("passwordField"), Qt::Key_Return);
        QTRY_VERIFY(child<QWidget>("errorLine")->isVisible());
        shoot(QStringLiteral("2-login-notice-error"));
        QTest::mouseClick(child<QPushButton>("switchModeButton"), Qt::LeftButton);
        type("displayNameField", QStringLiteral("小Q"));
        type("passwordField", QStringLiteral("123456"));
        type("inviteField", QStringLiteral("ABCD-1234"));
        shoot(QStringLiteral("3-register"));
    }

    void disabledCards()
    {
        QVERIFY(!service.signUp(QStringLiteral("qx"), QStringLiteral("secret1"), QStringLiteral("小Q")).isEmpty());
        QVERIFY(!account->signIn(QStringLiteral("qx"), QStringLiteral("secret1")).isCanceled());
        QTRY_VERIFY(account->isUsable());
        QTest::qWait(200);
        QCOMPARE(service.admin({QStringLiteral("users"), QStringLiteral("disable"), QStringLiteral("qx")}).status, 0);
        account->ping(false);
        QTRY_VERIFY(controller->view()->showsDisabledCard());
        shoot(QStringLiteral("4-disabled"));
        QTest::mouseClick(child<QPushButton>("recheckButton"), Qt::LeftButton);
        QTRY_VERIFY(child<QWidget>("resultLabel")->isVisible());
        shoot(QStringLiteral("5-disabled-rechecked"));
    }
};

QTEST_MAIN(LoginScreenshotTest)
#include "LoginScreenshotTest.moc"
