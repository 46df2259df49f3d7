#include "servers/ServerRegistry.h"
#include "support/PanelRig.h"
#include "support/ServersPageView.h"
#include "support/SshServerFixture.h"
#include "ui/panel/PasswordPrompt.h"
#include "ui/panel/ScriptSheet.h"
#include "ui/panel/ServerAdvancedSheet.h"
#include "ui/panel/ServerCard.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

// The advanced sheet as a user works it from a server card, offscreen over a real registry: addresses
// point at a closed loopback port, except in the last case, which runs against a real sshd.
class ServerAdvancedSheetTest : public QObject, protected ServersPageCases {
    Q_OBJECT

    using Kind = ServerRegistry::Status::Kind;

    static Server& loopServer(PanelRig& r, bool keyInstalled)
    {
        Server& s = r.addServer(QStringLiteral("gpu"), true, keyInstalled);
        s.host = QStringLiteral("127.0.0.1");
        s.port = 1;
        s.matchKeywords = {QStringLiteral("10.0.0.7"), QStringLiteral("alice@")};
        s.setup.ruleBlocks = {QStringLiteral("codex")};
        return s;
    }

    // "高级…" of the server's card; the sheet it opened.
    ServerAdvancedSheet* advanced(const QUuid& id)
    {
        view->flush();
        ServerCard* card = view->serversPage()->card(id);
        if (!card)
            return nullptr;
        card->menu()->findChild<QAction*>(QStringLiteral("advancedAction"))->trigger();
        const auto sheets = view->findChildren<ServerAdvancedSheet*>();
        for (ServerAdvancedSheet* sheet : sheets)
            if (sheet->isVisible())
                return sheet;
        return nullptr;
    }

    static QLineEdit* edit(ServerAdvancedSheet* sheet, const char* name)
    {
        return sheet->findChild<QLineEdit*>(QString::fromLatin1(name));
    }

    // Types the password into the prompt the sheet opened and continues.
    static void answer(ServerAdvancedSheet* sheet, const QString& title, const QString& password)
    {
        QTRY_VERIFY_WITH_TIMEOUT(sheet->passwordPrompt(), 60000);
        PasswordPrompt* prompt = sheet->passwordPrompt();
        QCOMPARE(prompt->findChild<QLabel*>(QStringLiteral("promptTitle"))->text(), title);
        QTest::keyClicks(prompt->field(), password);
        QTest::keyClick(prompt->field(), Qt::Key_Return);
        QVERIFY(!sheet->passwordPrompt());
    }

private Q_SLOTS:
    void cleanup() { close(); }

    void editsStayInTheSheetUntilAValidSave()
    {
        QUuid id;
        open([&](PanelRig& r) { id = loopServer(r, true).id; });
        const Server before = *registry().server(id);
        ServerAdvancedSheet* sheet = advanced(id);
        QVERIFY(sheet);
        QCOMPARE(sheet->fields(), ServerAdvancedModel::load(before));
        QCOMPARE(edit(sheet, "keywordsField")->text(), QStringLiteral("10.0.0.7, alice@"));
        QVERIFY(sheet->ruleSwitch(QStringLiteral("codex"))->isChecked());
        QVERIFY(!sheet->ruleSwitch(QStringLiteral("claude"))->isChecked());

        // A refused save keeps the sheet and the stored server; the first failing check speaks.
        edit(sheet, "portField")->setText(QStringLiteral("0"));
        edit(sheet, "userField")->setText(QStringLiteral("-x"));
        QTest::keyClick(edit(sheet, "nameField"), Qt::Key_Return);
        QCOMPARE(sheet->note(), QStringLiteral("端口要在 1～65535"));
        QVERIFY(sheet->isVisible());
        QCOMPARE(*registry().server(id), before);

        // Escape forgets the edits.
        QTest::keyClick(sheet, Qt::Key_Escape);
        QVERIFY(!sheet->isVisible());
        QCOMPARE(*registry().server(id), before);

        // How each field is read is ServerAdvancedModelTest's; here the save reaches the list and ssh_config.
        sheet = advanced(id);
        QCOMPARE(edit(sheet, "portField")->text(), QStringLiteral("1"));
        edit(sheet, "proxyJumpField")->setText(QStringLiteral("ssh -p 2200 ops@bastion"));
        sheet->ruleSwitch(QStringLiteral("claude"))->setChecked(true); // sent only by "应用规则块"
        QTest::keyClick(edit(sheet, "nameField"), Qt::Key_Return);
        QVERIFY(!sheet->isVisible());
        const Server after = *registry().server(id);
        QCOMPARE(after.proxyJump, std::optional<QString>(QStringLiteral("ops@bastion:2200")));
        QCOMPARE(after.setup.ruleBlocks, before.setup.ruleBlocks);
        QFile config(data.file("ssh_config"));
        QVERIFY(config.open(QIODevice::ReadOnly));
        QVERIFY(config.readAll().contains("-p 2200 -l ops -- bastion"));
        QCOMPARE(registry().status(id).kind, Kind::connecting); // saving reconnects
    }

    void serverSideActionsNeedAListedServerWithItsKey()
    {
        QUuid bare;
        QUuid keyed;
        open([&](PanelRig& r) {
            bare = loopServer(r, false).id;
            Server& other = loopServer(r, true);
            other.name = QStringLiteral("other");
            other.host = QStringLiteral("127.0.0.2");
            keyed = other.id;
        });
        ServerAdvancedSheet* sheet = advanced(bare);
        QVERIFY(!sheet->applyRulesButton()->isEnabled());
        QVERIFY(!sheet->revokeButton()->isEnabled());
        QTest::keyClick(sheet, Qt::Key_Escape);

        sheet = advanced(keyed);
        QVERIFY(sheet->applyRulesButton()->isEnabled() && sheet->revokeButton()->isEnabled());
        // Removed meanwhile: the buttons go grey, a call under way still ends, and a later one says why.
        sheet->applyRules(std::nullopt);
        QCOMPARE(sheet->note(), QStringLiteral("正在写规则块…"));
        registry().remove(keyed, false, {});
        QVERIFY(!sheet->applyRulesButton()->isEnabled() && !sheet->revokeButton()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(sheet->note() != QStringLiteral("正在写规则块…"), 30000);
        sheet->revoke(std::nullopt);
        QTRY_COMPARE(sheet->note(), QStringLiteral("这台服务器已经不在列表里了"));
        QCOMPARE(sheet->findChild<QLabel*>(QStringLiteral("advancedTitle"))->text(), QStringLiteral("高级 · "));
        sheet->showRulePreview();
        QVERIFY(sheet->scriptSheet()->textView()->toPlainText().contains(QLatin1String("`shotN: ~/tarnel/shots/xxxx.png`")));
        // An answer that arrives after the sheet went is dropped.
        sheet->revoke(std::nullopt);
        delete sheet;
        QTest::qWait(0);
    }

    // A server that takes only passwords, added from the box; the sheet's rule block and revocation
    // retry with the password and are checked on the server.
    void passwordAccountFromTheBoxThenRulesAndRevoke()
    {
        if (!SshServerFixture::canCreateAccounts())
            QSKIP("needs accounts of its own (run as root)");
        const QString password = QStringLiteral("pw once-Only");
        SshServerFixture sshd;
        sshd.acceptHomeKeys();
        const auto account = sshd.account(QStringLiteral("tarnel-advsrv"));
        QVERIFY(account && sshd.setPassword(*account, password));
        QVERIFY(!sshd.start());
        open();

        QLineEdit* address = view->serversPage()->addBox()->field();
        QTest::keyClicks(address, QStringLiteral("127.0.0.1:%1").arg(sshd.port()));
        QTest::keyClick(address, Qt::Key_Return);
        QCOMPARE(registry().servers().size(), 1);
        const QUuid id = registry().servers().first().id;
        QTRY_VERIFY_WITH_TIMEOUT(registry().status(id).kind == Kind::failed, 60000);
        view->flush();
        ServerCard* card = view->serversPage()->card(id);
        QVERIFY(card->userField()->isVisible());
        card->userField()->setText(account->name);
        card->passwordField()->setText(password);
        card->loginButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(registry().status(id).kind != Kind::connecting, 60000);
        QVERIFY2(registry().status(id).kind == Kind::connected, qPrintable(registry().status(id).message));

        ServerAdvancedSheet* sheet = advanced(id);
        QVERIFY(sheet && sheet->applyRulesButton()->isEnabled());
        sheet->ruleSwitch(QStringLiteral("claude"))->setChecked(true);
        sheet->applyRulesButton()->click();
        answer(sheet, QStringLiteral("写规则块要用你的登录，再输一次密码"), password);
        QTRY_COMPARE_WITH_TIMEOUT(sheet->note(), QStringLiteral("规则块已写入：claude"), 60000);
        QFile rules(account->home + QStringLiteral("/.claude/CLAUDE.md"));
        QVERIFY(rules.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(rules.readAll()).contains(QStringLiteral("`shotN: ~/tarnel/shots/xxxx.png`")));

        sheet->revokeButton()->click();
        answer(sheet, QStringLiteral("吊销钥匙要用你的登录，再输一次密码"), password);
        QTRY_COMPARE_WITH_TIMEOUT(sheet->note(), QStringLiteral("钥匙已吊销，再点「连接」可重新装"), 60000);
        QFile keys(account->home + QStringLiteral("/.ssh/authorized_keys"));
        QVERIFY(keys.open(QIODevice::ReadOnly));
        QVERIFY(!keys.readAll().contains("restrict"));
        QVERIFY(!sheet->revokeButton()->isEnabled());
    }
};

QTEST_MAIN(ServerAdvancedSheetTest)
#include "ServerAdvancedSheetTest.moc"
