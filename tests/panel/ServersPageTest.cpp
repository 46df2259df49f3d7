#include "servers/ServerRegistry.h"
#include "servers/ServersPageState.h"
#include "state/Paths.h"
#include "support/PanelRig.h"
#include "support/ServersPageView.h"
#include "ui/panel/AddServerBox.h"
#include "ui/panel/PanelView.h"
#include "ui/panel/PasswordPrompt.h"
#include "ui/panel/ScriptSheet.h"
#include "ui/panel/ServerCard.h"
#include "ui/panel/ServersPage.h"
#include "ui/kit/ElidedLabel.h"
#include "ui/shell/RemovalPasswordHost.h"

#include <QAction>
#include <atomic>
#include <memory>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

// The servers page as a user works it, offscreen, over a real registry: addresses point at a closed
// loopback port, so every connection really runs and fails at once.
class ServersPageTest : public QObject, protected ServersPageCases {
    Q_OBJECT

    using Kind = ServerRegistry::Status::Kind;
    ServersPage* page() { return view->serversPage(); }
    AddServerBox* box() { return page()->addBox(); }

    bool settles(const QUuid& id)
    {
        return QTest::qWaitFor([&] { return registry().status(id).kind == Kind::failed; }, 30000);
    }

    static QAction* action(ServerCard* card, const char* name)
    {
        return card->menu()->findChild<QAction*>(QString::fromLatin1(name));
    }

private Q_SLOTS:
    void cleanup() { close(); }

    void addByTextOnceAndErrorsUntilEdited()
    {
        open();
        QLineEdit* field = box()->field();
        QTest::keyClicks(field, QStringLiteral("bob@"));
        QTest::keyClick(field, Qt::Key_Return);
        view->flush();
        QCOMPARE(registry().servers().size(), 0);
        QVERIFY(app().serversPage().inputError().has_value());
        QCOMPARE(field->text(), QStringLiteral("bob@"));
        QTest::keyClick(field, Qt::Key_Backspace);
        QVERIFY(!app().serversPage().inputError());

        field->setText(QStringLiteral("  alice@127.0.0.1:1  "));
        // Return in the address field is its own: it reaches neither the page's default nor a second add.
        QTest::keyClick(field, Qt::Key_Return);
        view->flush();
        QCOMPARE(registry().servers().size(), 1);
        QCOMPARE(field->text(), QString());
        const Server added = registry().servers().first();
        QCOMPARE(added.user, std::optional<QString>(QStringLiteral("alice")));
        QVERIFY(settles(added.id));
        view->flush();
        ServerCard* card = page()->card(added.id);
        QVERIFY(card);
        QVERIFY(card->retryButton()->isVisible() != card->userField()->isVisible());
    }

    void chipsFollowTheListAndIpv6RoundTrips()
    {
        open([](PanelRig& r) {
            Server& s = r.addServer(QStringLiteral("loop"));
            s.host = QStringLiteral("127.0.0.1");
            s.port = 1;
        });
        const QList<SSHSession> live{SSHSession{QStringLiteral("alice"), QStringLiteral("::1"), 1},
            SSHSession{std::nullopt, QStringLiteral("127.0.0.1"), 1}};
        box()->setScan([live] { return live; });
        box()->setScanInterval(20);
        box()->hide();
        QSignalSpy scans(box(), &AddServerBox::scanned);
        box()->show();
        QVERIFY(scans.wait(5000));
        QList<QToolButton*> chips = box()->findChildren<QToolButton*>(QStringLiteral("sessionChip"));
        QCOMPARE(chips.size(), 1);
        QCOMPARE(chips.first()->property("address").toString(), QStringLiteral("alice@[::1]:1"));
        chips.first()->click();
        view->flush();
        QCOMPARE(registry().servers().size(), 2);
        QCOMPARE(registry().servers().last().host, QStringLiteral("::1"));
        QCOMPARE(registry().servers().last().port, 1);
        QVERIFY(box()->findChildren<QToolButton*>(QStringLiteral("sessionChip")).isEmpty());

        // Hidden, the box scans no more.
        box()->hide();
        scans.clear();
        QVERIFY(!scans.wait(200));
    }

    // Leaving the page and coming back shows an empty box: no text, no error, no chips until the next
    // scan. Hiding the whole window keeps what was typed.
    void addBoxStartsAfreshOnEachVisit()
    {
        open();
        // The scan runs on a worker and may answer at any moment: it offers sessions only while the test lets it.
        auto offer = std::make_shared<std::atomic<bool>>(true);
        box()->setScan([offer] {
            return *offer ? QList<SSHSession>{SSHSession{QStringLiteral("alice"), QStringLiteral("10.9.9.9"), std::nullopt}}
                          : QList<SSHSession>{};
        });
        box()->setScanInterval(1000);
        QSignalSpy scans(box(), &AddServerBox::scanned);
        box()->hide();
        box()->show();
        QVERIFY(scans.wait(5000));
        auto* chips = box()->findChild<QWidget*>(QStringLiteral("sessionChips"));
        QVERIFY(chips->isVisibleTo(box()));
        QVERIFY(box()->findChild<QLabel*>(QStringLiteral("sessionsSymbol")));
        QLineEdit* field = box()->field();
        QTest::keyClicks(field, QStringLiteral("bob@"));
        QTest::keyClick(field, Qt::Key_Return);
        QVERIFY(app().serversPage().inputError().has_value());

        view->hide();
        view->show();
        QCOMPARE(field->text(), QStringLiteral("bob@"));

        *offer = false;
        app().setPanelTab(PanelTab::shots);
        view->flush();
        app().setPanelTab(PanelTab::servers);
        view->flush();
        QVERIFY(box()->isVisible());
        QCOMPARE(field->text(), QString());
        QVERIFY(!app().serversPage().inputError());
        QCOMPARE(box()->findChild<QLabel*>(QStringLiteral("addHint"))->property("colorRole").toString(), QStringLiteral("secondary"));
        QVERIFY(box()->sessions().isEmpty());
        QVERIFY(!chips->isVisibleTo(box()));
        *offer = true;
        QTRY_VERIFY_WITH_TIMEOUT(chips->isVisibleTo(box()), 10000);
    }

    // Whatever the footer says, the panel keeps its width; the data folder stands under the flask symbol,
    // shortened in the middle and whole in the tooltip.
    void footerNeverWidensThePanel()
    {
        open();
        auto* footer = page()->findChild<ElidedLabel*>(QStringLiteral("serversFooter"));
        QVERIFY(footer);
        QCOMPARE(footer->toolTip(), QStringLiteral("测试数据目录：") + Paths::dataDirectory());
        QVERIFY(page()->findChild<QLabel*>(QStringLiteral("footerSymbol"))->isVisibleTo(page()));
        const QSize least = view->minimumSizeHint(), wanted = view->sizeHint();
        footer->setText(QStringLiteral("测试数据目录：/") + QString(185, QLatin1Char('d')));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCOMPARE(view->minimumSizeHint().width(), least.width());
        QCOMPARE(view->sizeHint().width(), wanted.width());
        QVERIFY(footer->shownText().contains(QStringLiteral("…")));
        QVERIFY(footer->shownText().startsWith(QStringLiteral("测试数据目录：/d")));
    }

    void cardsKeepTypedTextAndRunTheirActions()
    {
        QUuid id;
        open([&](PanelRig& r) {
            Server& s = r.addServer(QStringLiteral("box"), true, false);
            s.host = QStringLiteral("127.0.0.1");
            s.port = 1;
            s.user = QStringLiteral("carol");
            id = s.id;
        });
        ServerCard* card = page()->card(id);
        QVERIFY(card);
        QCOMPARE(card->userField()->text(), QStringLiteral("carol"));
        card->userField()->setText(QStringLiteral("  dave "));
        card->passwordField()->setText(QStringLiteral("pw"));
        registry().setEnabled(id, false);
        view->flush();
        QCOMPARE(page()->card(id), card);
        QCOMPARE(card->userField()->text(), QStringLiteral("  dave "));
        QVERIFY(!action(card, "fillAction")->isEnabled());

        card->userField()->setText(QStringLiteral("-x"));
        card->loginButton()->click();
        QCOMPARE(card->findChild<QLabel*>(QStringLiteral("formNote"))->text(), QStringLiteral("用户名不对：不能以 - 开头"));
        QCOMPARE(registry().status(id).kind, Kind::unknown);
        QCOMPARE(card->passwordField()->text(), QStringLiteral("pw"));

        card->userField()->setText(QStringLiteral("  dave "));
        card->loginButton()->click();
        QCOMPARE(card->passwordField()->text(), QString());
        QCOMPARE(registry().status(id).kind, Kind::connecting);
        QCOMPARE(registry().status(id).stage, ConnectFlow::Stage::installing);
        QVERIFY(settles(id));

        action(card, "reconnectAction")->trigger();
        QCOMPARE(registry().status(id).kind, Kind::connecting);
        QCOMPARE(registry().status(id).stage, ConnectFlow::Stage::probing);
        QVERIFY(settles(id));

        action(card, "removeAction")->trigger();
        QTRY_COMPARE(rig->desktop.flash.lines(), QStringList{QStringLiteral("已移除 box")});
        view->flush();
        QVERIFY(!page()->card(id));
    }

    // The key is installed while the card's menu is open: the next time it opens, the menu offers the
    // upload of today's shots.
    void menuFollowsTheKeyWhileOpen()
    {
        QUuid id;
        open([&](PanelRig& r) { id = r.addServer(QStringLiteral("box"), true, false).id; });
        ServerCard* card = page()->card(id);
        QVERIFY(!action(card, "fillAction")->isEnabled());
        card->menu()->popup(card->mapToGlobal(QPoint(0, 0)));
        QVERIFY(card->menu()->isVisible());
        Server installed = *registry().server(id);
        installed.setup.keyInstalled = true;
        card->setContent(installed, registry().status(id), false);
        card->menu()->hide();
        card->menu()->popup(card->mapToGlobal(QPoint(0, 0)));
        QVERIFY(action(card, "fillAction")->isEnabled());
        card->menu()->hide();
    }

    // A linked machine's card (hosted outside this page) offers its device items and the script it runs.
    void linkedMachineCardShowsItsScript()
    {
        open();
        Server mac;
        mac.name = QStringLiteral("studio");
        mac.host = QStringLiteral("qx-studio");
        mac.remoteDir = QStringLiteral("~/shots-in");
        mac.deviceID = QStringLiteral("dev-1");
        mac.deviceAlias = QStringLiteral("qx-studio");
        ServerCard card(app());
        card.setContent(mac, ServerRegistry::Status{}, false);
        QVERIFY(!action(&card, "advancedAction"));
        QCOMPARE(action(&card, "removePurgeAction")->text(), QStringLiteral("移除并清掉对方电脑上的 tarnel 目录"));
        action(&card, "deviceScriptAction")->trigger();
        auto* sheet = card.findChild<ScriptSheet*>();
        QVERIFY(sheet && sheet->isVisible());
        const QString script = sheet->textView()->toPlainText();
        QVERIFY(script.contains(QLatin1String("BASE='~/shots-in'")));
        sheet->copyButton()->click();
        QCOMPARE(rig->desktop.clipboard.text(), script);

        // A folder the renderer refuses shows the note instead of a script.
        mac.remoteDir = QStringLiteral("~/a b");
        card.setContent(mac, ServerRegistry::Status{}, false);
        action(&card, "deviceScriptAction")->trigger();
        QTRY_COMPARE(card.findChildren<ScriptSheet*>().last()->textView()->toPlainText(), QStringLiteral("（找不到内嵌的安装脚本）"));
    }

    // Requests from anywhere queue up behind the open prompt; each answer is handled exactly once.
    void removalPromptsQueueAndAnswerOnce()
    {
        open();
        RemovalPasswordHost host(app());
        Server first;
        first.name = QStringLiteral("one");
        first.host = QStringLiteral("127.0.0.1");
        first.port = 1;
        first.user = QStringLiteral("u");
        Server second = first;
        second.id = QUuid::createUuid();
        second.name = QStringLiteral("two");
        app().requestRemovalPassword({first, false});
        app().requestRemovalPassword({second, true});
        QTRY_VERIFY(host.prompt());
        PasswordPrompt* prompt = host.prompt();
        QVERIFY(!prompt->continueButton()->isEnabled());
        QTest::keyClick(prompt, Qt::Key_Escape);
        QTRY_COMPARE(rig->desktop.flash.lines().size(), 1);
        QCOMPARE(rig->desktop.flash.lines().first(), QStringLiteral("已从列表移除；服务器上那一行钥匙没清（它只能放图）"));
        QCOMPARE(app().pendingRemoval()->server.name, QStringLiteral("two"));

        QTRY_VERIFY(host.prompt() && host.prompt() != prompt);
        host.prompt()->field()->setText(QStringLiteral("  "));
        host.prompt()->continueButton()->click();
        QVERIFY(!app().pendingRemoval());
        QTRY_COMPARE(rig->desktop.flash.lines().size(), 2);
        QVERIFY(rig->desktop.flash.lines().last().startsWith(QStringLiteral("服务器端没清干净：")));
        QTest::qWait(0);
        QCOMPARE(rig->desktop.flash.lines().size(), 2);
    }
};

QTEST_MAIN(ServersPageTest)
#include "ServersPageTest.moc"
