// The first start on real parts: the whole tray application (its shell, hub and windows) with a fresh data
// folder and a sign-in to a real tarnel-accountd opens the onboarding window; the user picks "server",
// adds a real loopback sshd account in the embedded box, logs in with its password on the server card,
// and finishes. The next start opens no onboarding.
#include "account/AccountRecord.h"
#include "account/QXServer.h"
#include "servers/ServerRegistry.h"
#include "state/Store.h"
#include "support/AccountServiceFixture.h"
#include "support/FakeDesktop.h"
#include "support/SshServerFixture.h"
#include "support/TempDataDir.h"
#include "support/TempSettings.h"
#include "support/WindowShot.h"
#include "ui/onboarding/ChoiceCard.h"
#include "ui/onboarding/OnboardingView.h"
#include "ui/onboarding/OnboardingWindowController.h"
#include "ui/onboarding/StepBox.h"
#include "ui/panel/AddServerBox.h"
#include "ui/panel/ServerCard.h"
#include "ui/shell/AppDelegate.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {
const QString password = QStringLiteral("onboard-pass-7731");
constexpr int connectMs = 90000;
} // namespace

class OnboardingRoadTest : public QObject {
    Q_OBJECT

    TempDataDir data;
    TempSettings qsettings;
    AccountServiceFixture service;
    SshServerFixture sshd;
    std::optional<SshServerFixture::Account> target;
    FakeDesktop desktop;
    QString folder = QStringLiteral(TARNEL_BINARY_DIR "/artifacts/onboarding");

private Q_SLOTS:
    void initTestCase()
    {
        if (!SshServerFixture::canCreateAccounts())
            QSKIP("needs a login account with a password of its own (run as root)");
        QVERIFY2(service.start(), qPrintable(service.error()));
        QXServer::useURLs(service.url(), service.url());
        const QString token = service.signUp(QStringLiteral("onboard"), QStringLiteral("secret1"));
        QVERIFY(!token.isEmpty());
        const AccountRecord record{QStringLiteral("onboard"), QStringLiteral("onboard"), token, std::nullopt};
        QVERIFY(record.save().ok());
        sshd.acceptHomeKeys();
        target = sshd.account(QStringLiteral("tarnel-onbrd"));
        QVERIFY(target && sshd.setPassword(*target, password));
        QVERIFY(!sshd.start());
        QVERIFY(QDir().mkpath(folder));
    }

    void firstStartGuidesToAConnectedServer()
    {
        AppDelegate delegate(desktop.services());
        delegate.launch();
        QWidget* window = delegate.onboarding().window();
        QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), 5000);
        OnboardingView* view = delegate.onboarding().view();

        view->choice(QStringLiteral("server"))->click();
        view->flush();
        QVERIFY(view->addBox()->isVisibleTo(window));
        view->addBox()->field()->setText(QStringLiteral("%1@127.0.0.1:%2").arg(target->name).arg(sshd.port()));
        QVERIFY(view->addBox()->connectTyped());

        // No key of ours is on the account yet: the card asks for the password.
        ServerRegistry& registry = delegate.state().registry();
        QCOMPARE(registry.servers().size(), 1);
        const QUuid id = registry.servers().first().id;
        QTRY_VERIFY_WITH_TIMEOUT(registry.status(id).kind == ServerRegistry::Status::Kind::failed, connectMs);
        view->flush();
        ServerCard* card = view->card(id);
        QVERIFY(card && card->passwordField()->isVisibleTo(window));
        card->passwordField()->setText(password);
        card->loginButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(registry.status(id).kind != ServerRegistry::Status::Kind::connecting, connectMs);
        QVERIFY2(registry.status(id).kind == ServerRegistry::Status::Kind::connected,
                 qPrintable(registry.status(id).message + sshd.log().right(1500)));

        view->flush();
        QVERIFY(view->step(3)->done());
        QCOMPARE(view->activeStep(), 4);
        QTRY_VERIFY(view->findChild<QWidget*>(QStringLiteral("connectedNote"))->isVisibleTo(window));
        const QString problem = saveWindowShot(window, folder, QStringLiteral("6-server-connected"),
                                               QSize(OnboardingWindowController::width, OnboardingWindowController::height));
        QVERIFY2(problem.isEmpty(), qPrintable(problem));

        view->finishButton()->click();
        QVERIFY(!window->isVisible());
        const Settings saved = Store(data.path()).loadSettings();
        QVERIFY(saved.onboardingDone);
        QCOMPARE(saved.onboardingTarget, QStringLiteral("server"));
    }

    void nextStartShowsNoOnboarding()
    {
        AppDelegate delegate(desktop.services());
        QSignalSpy shown(&delegate, &AppDelegate::firstWindowShown);
        delegate.launch();
        QVERIFY(shown.wait(5000));
        QVERIFY(!delegate.onboarding().window()->isVisible());
    }
};

QTEST_MAIN(OnboardingRoadTest)
#include "OnboardingRoadTest.moc"
