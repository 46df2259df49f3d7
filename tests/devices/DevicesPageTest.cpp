// The devices page offscreen, against the hub's device link running the stand-in link program.
#include "link/LinkManager.h"
#include "servers/ServerRegistry.h"
#include "support/LinkedPanelRig.h"
#include "support/ScriptHome.h"
#include "support/WaitUntil.h"
#include "ui/devices/DeviceCard.h"
#include "ui/devices/DevicesPage.h"
#include "ui/devices/KeyAddSheet.h"
#include "ui/devices/RenameDeviceSheet.h"
#include "ui/devices/ShortCommandSheet.h"
#include "ui/kit/BusyButton.h"
#include "ui/kit/ElidedField.h"
#include "ui/panel/PanelView.h"

#include <QApplication>
#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QSignalSpy>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>

class DevicesPageTest : public QObject {
    Q_OBJECT
    using Kind = Tunnel::Kind;
    TempDataDir data;
    std::unique_ptr<LinkedPanelRig> rig;
    std::unique_ptr<PanelView> view;
    const PeerDevice den = LinkedPanelRig::peer(QStringLiteral("den"), QStringLiteral("书房"), true, true);
    const PeerDevice old = LinkedPanelRig::peer(QStringLiteral("old"), QString(), false);

    DevicesPage* page() const { return view->devicesPage(); }

    // The panel on its devices page, the link reporting `peers`.
    bool show(const QList<PeerDevice>& peers)
    {
        if (!rig->start() || !rig->publish(peers))
            return false;
        rig->app().setPanelTab(PanelTab::devices);
        view = std::make_unique<PanelView>(rig->app(), [] {});
        view->resize(760, 900);
        view->show();
        view->flush();
        return true;
    }

    static QAction* action(DeviceCard* card, const char* name)
    {
        return card->menu()->findChild<QAction*>(QString::fromLatin1(name));
    }

private Q_SLOTS:
    void init() { rig = std::make_unique<LinkedPanelRig>(data); }
    void cleanup()
    {
        view.reset();
        rig.reset();
    }

    void pollsFastOnlyWhileShownOnTheDevicesPage()
    {
        QVERIFY(show({den}));
        LinkManager& link = rig->app().link();
        QVERIFY(link.pollsFast());
        QTRY_VERIFY(!link.pollInFlight()); // a poll still running would swallow the next one
        const int before = rig->statusRequests();
        rig->app().setPanelTab(PanelTab::servers);
        view->flush();
        QVERIFY(!link.pollsFast());
        rig->app().setPanelTab(PanelTab::devices);
        view->flush();
        QVERIFY(link.pollsFast());
        QTRY_VERIFY(rig->statusRequests() > before); // showing the page polls at once
        view->hide();
        QVERIFY(!link.pollsFast());
    }

    void cardOpensAndClosesItsConnection()
    {
        QVERIFY(show({den}));
        QStringList calls;
        Tunnel state;
        page()->commands.tunnel = [&](const PeerDevice&) { return state; };
        page()->commands.openTunnel = [&](const PeerDevice& p) { calls << QStringLiteral("open ") + p.id; };
        page()->commands.closeTunnel = [&](const PeerDevice& p) { calls << QStringLiteral("close ") + p.id; };
        page()->commands.commandText = [](const PeerDevice& p) { return QStringLiteral("ssh ") + p.alias; };
        page()->refresh();
        DeviceCard* card = page()->card(den.id);
        QVERIFY(card);
        QVERIFY(card->openButton()->isVisible() && card->openButton()->isEnabled());
        card->openButton()->click();
        state.kind = Kind::checking;
        page()->refresh();
        QVERIFY(!card->openButton()->isVisible());
        QVERIFY(card->findChild<BusyButton*>()->isVisible());
        state.kind = Kind::open;
        page()->refresh();
        QVERIFY(card->closeButton()->isVisible());
        card->copyButton()->click();
        QCOMPARE(rig->panel.desktop.clipboard.text(), QStringLiteral("ssh qx-den"));
        QCOMPARE(page()->footerText(), QStringLiteral("已复制：ssh qx-den"));
        card->closeButton()->click();
        QCOMPARE(calls, (QStringList{QStringLiteral("open den"), QStringLiteral("close den")}));
    }

    // Return goes to the card that holds the focus: its "打通 SSH 连接", or "在终端里打开" once open.
    void returnPressesTheFocusedCardsButton()
    {
        PeerDevice second = LinkedPanelRig::peer(QStringLiteral("lab"), QStringLiteral("实验室"), true, true);
        QVERIFY(show({den, second}));
        QStringList calls;
        QMap<QString, Tunnel> states;
        page()->commands.tunnel = [&](const PeerDevice& p) { return states.value(p.id); };
        page()->commands.openTunnel = [&](const PeerDevice& p) { calls << QStringLiteral("open ") + p.id; };
        page()->commands.openTerminal = [&](const PeerDevice& p) -> std::optional<QString> {
            calls << QStringLiteral("terminal ") + p.id;
            return std::nullopt;
        };
        page()->commands.commandText = [](const PeerDevice& p) { return QStringLiteral("ssh ") + p.alias; };
        page()->refresh();
        page()->card(second.id)->setFocus();
        QTest::keyClick(view.get(), Qt::Key_Return);
        QCOMPARE(calls, QStringList{QStringLiteral("open lab")});

        states[den.id].kind = Kind::open;
        page()->refresh();
        DeviceCard* card = page()->card(den.id);
        card->commandField()->setFocus(); // the selectable command belongs to its card
        QTest::keyClick(card->commandField(), Qt::Key_Return);
        QCOMPARE(calls.last(), QStringLiteral("terminal den"));
    }

    // The command is selectable; squeezed, it shows "…" in the middle, yet a selection copies the real text.
    void commandIsSelectableWholeText()
    {
        QVERIFY(show({den}));
        const QString command = QStringLiteral("ssh -F /home/someone/.local/share/tarnel/ssh_config_devices ")
            + QString(60, QLatin1Char('x'));
        Tunnel open;
        open.kind = Kind::open;
        page()->commands.tunnel = [&](const PeerDevice&) { return open; };
        page()->commands.commandText = [&](const PeerDevice&) { return command; };
        page()->refresh();
        ElidedField* field = page()->card(den.id)->commandField();
        QTRY_VERIFY(field->text().contains(QChar(0x2026)));
        QCOMPARE(field->fullText(), command);
        view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(view.get()));
        field->setFocus();
        field->selectAll();
        QCOMPARE(field->selectedText(), command);
        field->clearFocus();
        QVERIFY(field->text().contains(QChar(0x2026)));
    }

    void kickAsksFirstAndReportsInTheFooter_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("footer");
        QTest::newRow("cancelled") << false << "" << "";
        QTest::newRow("refused") << true << "还没登录" << "还没登录";
    }
    void kickAsksFirstAndReportsInTheFooter()
    {
        QFETCH(bool, confirm);
        QFETCH(QString, failure);
        QFETCH(QString, footer);
        QVERIFY(show({den, old}));
        QStringList removed;
        page()->commands.remove = [&](const PeerDevice& p) {
            removed << p.id;
            return QtFuture::makeReadyFuture(failure.isEmpty() ? Outcome<>::success() : Outcome<>::failure(failure));
        };
        QVERIFY(!page()->kickButton(old.id));
        page()->offlineToggle()->click();
        QVERIFY(page()->kickButton(old.id));
        page()->kickButton(old.id)->click();
        QMessageBox* alert = page()->kickAlert();
        QVERIFY(alert);
        QCOMPARE(alert->text(), QStringLiteral("踢出「qx-old」？"));
        QCOMPARE(alert->findChild<QPushButton*>(QStringLiteral("kickConfirm"))->property("colorRole").toString(),
                 QStringLiteral("red"));
        alert->findChild<QPushButton*>(confirm ? QStringLiteral("kickConfirm") : QStringLiteral("kickCancel"))->click();
        QCOMPARE(removed, confirm ? QStringList{old.id} : QStringList());
        if (footer.isEmpty())
            return;
        QTRY_COMPARE(page()->footerText(), footer);
        page()->refreshButton()->click(); // clears the notice
        QVERIFY(page()->footerText().startsWith(QStringLiteral("tarnel-net 运行中")));
    }

    void syncSwitchesOnAndOffFromTheMenu()
    {
        PeerDevice allowing = den;
        allowing.remoteAccess = true;
        QVERIFY(show({allowing}));
        DeviceCard* card = page()->card(den.id);
        QVERIFY(!card->syncSwitch()->isVisible());
        QAction* start = action(card, "startSyncAction");
        QVERIFY(start && start->isEnabled());
        start->trigger();
        view->flush();
        page()->refresh();
        ServerRegistry& registry = rig->app().registry();
        QCOMPARE(registry.servers().size(), 1);
        QCOMPARE(registry.servers().first().deviceID, den.id);
        QVERIFY(card->syncSwitch()->isVisible());
        QCOMPARE(action(card, "kickAction")->property("colorRole").toString(), QStringLiteral("red"));
        action(card, "closeSyncAction")->trigger();
        QTRY_COMPARE(page()->footerText(), QStringLiteral("已关闭截图同步"));
        QVERIFY(registry.servers().isEmpty());
    }

    void keyAddSheetTicksItselfOffWhenTheKeyArrives()
    {
        QVERIFY(show({den}));
        page()->openKeySheet(den);
        KeyAddSheet* sheet = page()->keySheet();
        QVERIFY(sheet && !sheet->done());
        QCOMPARE(sheet->closeButton()->text(), QStringLiteral("关闭"));
        sheet->copyButton()->click();
        sheet->copyButton()->click();
        QCOMPARE(rig->panel.desktop.clipboard.text(), LinkManager::keyAddCommand(den) + QLatin1Char('\n'));
        QCOMPARE(sheet->copyButton()->text(), QStringLiteral("已复制 ✓"));
        // Unfolding the command grows the sheet by just what it shows: no blank band under the buttons.
        sheet->show();
        const int folded = sheet->height();
        sheet->findChild<QToolButton*>(QStringLiteral("revealCommand"))->click();
        const QWidget* text = sheet->findChild<QWidget*>(QStringLiteral("keyCommandText"));
        QVERIFY(sheet->height() > folded + text->height());
        // As tall as its rows need at its width: spare height would be spread between them as blank bands.
        QCOMPARE(sheet->height(), sheet->heightForWidth(sheet->width()));
        QCOMPARE(sheet->height() - sheet->closeButton()->geometry().bottom() - 1, 18);
        rig->allowKeys({den}, "ssh-rsa AAAAother x\n");
        QVERIFY(rig->pollApplied());
        QVERIFY(sheet->done());
        QCOMPARE(sheet->closeButton()->text(), QStringLiteral("好"));
    }

    // The copied Include line, run by sh, turns the sheet into its fixed view at the next poll.
    void shortCommandSheetFollowsTheIncludeItsLineWrites()
    {
        QVERIFY(show({den}));
        ScriptHome home;
        rig->app().link().sshDirectory = home.file(QStringLiteral(".ssh"));
        page()->openShortSheet();
        ShortCommandSheet* sheet = page()->shortSheet();
        QCOMPARE(sheet->closeButton()->text(), QStringLiteral("关闭"));
        sheet->copyButton()->click();
        const QString copied = rig->panel.desktop.clipboard.text();
        QVERIFY(copied.endsWith(QStringLiteral("'\n")) && !copied.endsWith(QStringLiteral("\n\n")));
        QCOMPARE(home.run(copied, {{QStringLiteral("HOME"), home.path()}}).status, 0);
        QVERIFY(rig->pollApplied());
        QVERIFY(rig->app().link().sshConfigIncluded());
        QCOMPARE(sheet->closeButton()->text(), QStringLiteral("好"));
        QCOMPARE(sheet->copyButton()->text(), QStringLiteral("已复制 ✓"));
    }

    void renameChecksKeepsLowerCaseAndHearsOnlyItsOwnAnswer()
    {
        QVERIFY(show({den}));
        page()->openRenameSheet();
        RenameDeviceSheet* sheet = page()->renameSheet();
        QCOMPARE(sheet->nameField()->text(), LinkedPanelRig::defaultSelf().name);
        QCOMPARE(sheet->aliasField()->text(), QStringLiteral("qx-study"));
        sheet->aliasField()->clear();
        QTest::keyClicks(sheet->aliasField(), QStringLiteral("QX-Home"));
        QCOMPARE(sheet->aliasField()->text(), QStringLiteral("qx-home"));
        sheet->nameField()->setText(QStringLiteral("   "));
        sheet->saveButton()->click();
        QTRY_COMPARE(sheet->error(), QStringLiteral("名字 1～40 个字符"));

        // An answer that comes after "取消" reaches neither the closed sheet nor the next one.
        sheet->nameField()->setText(QStringLiteral("客厅"));
        // The rename's answer tells the new name, so the wait below is for that answer and no poll's.
        LinkManager& link = rig->app().link();
        NodeStatus renamed = *link.status();
        renamed.device.name = QStringLiteral("客厅");
        rig->program.script({{QStringLiteral("delayMs"), 400},
                             {QStringLiteral("replies"), QJsonObject{{QStringLiteral("rename"), QJsonDocument::fromJson(renamed.toLine()).object()}}}});
        sheet->saveButton()->click();
        QCOMPARE(sheet->saveButton()->text(), QStringLiteral("保存中…"));
        QVERIFY(!sheet->saveButton()->isEnabled());
        sheet->cancelButton()->click();
        QTRY_VERIFY(!page()->renameSheet());
        page()->openRenameSheet();
        RenameDeviceSheet* next = page()->renameSheet();
        QVERIFY(waitUntil([&] { return link.status()->device.name == QStringLiteral("客厅"); }, Limit::network));
        QCoreApplication::processEvents();
        QVERIFY(rig->program.commandNames().contains(QStringLiteral("rename")));
        QVERIFY(next->isVisible());
        QVERIFY(next->error().isEmpty());
    }
};

QTEST_MAIN(DevicesPageTest)
#include "DevicesPageTest.moc"
