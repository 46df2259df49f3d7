// The devices page's copies on a real X server: what the user copies must paste in xterm with Shift+Insert
// (the primary selection) as well as with Ctrl+Shift+V (the clipboard).
#include "link/LinkManager.h"
#include "platform/x11/SystemClipboard.h"
#include "support/LinkedPanelRig.h"
#include "support/WaitUntil.h"
#include "ui/devices/DeviceCard.h"
#include "ui/devices/DevicesPage.h"
#include "ui/devices/KeyAddSheet.h"
#include "ui/devices/ShortCommandSheet.h"
#include "ui/panel/PanelView.h"

#include <QProcess>
#include <QPushButton>
#include <QtTest>

class DevicesCopyX11Test : public QObject {
    Q_OBJECT
    TempDataDir data;

    // Both selections as another program reads them; the event loop runs meanwhile, so we can answer.
    static QString pasted()
    {
        QStringList texts;
        for (const char* selection : {"primary", "clipboard"}) {
            QProcess xclip;
            xclip.start(QStringLiteral("xclip"), {QStringLiteral("-o"), QStringLiteral("-selection"), QString::fromLatin1(selection)});
            waitUntil([&] { return xclip.state() == QProcess::NotRunning; });
            texts << QString::fromUtf8(xclip.readAllStandardOutput());
        }
        return texts.first() == texts.last() ? texts.first() : texts.join(QStringLiteral(" | "));
    }

private Q_SLOTS:
    void everyCopyFillsClipboardAndPrimary()
    {
        SystemClipboard clipboard;
        LinkedPanelRig rig(data);
        rig.panel.realClipboard = &clipboard;
        const PeerDevice den = LinkedPanelRig::peer(QStringLiteral("den"), QStringLiteral("书房"), true, true);
        QVERIFY(rig.start() && rig.publish({den}));
        rig.app().setPanelTab(PanelTab::devices);
        PanelView view(rig.app(), [] {});
        view.resize(760, 900);
        view.show();
        view.flush();
        DevicesPage* page = view.devicesPage();
        page->commands.tunnel = [](const PeerDevice&) { return Tunnel{Tunnel::Kind::open}; };
        page->commands.commandText = [](const PeerDevice& p) { return QStringLiteral("ssh ") + p.alias; };
        page->refresh();

        page->openKeySheet(den);
        page->keySheet()->copyButton()->click();
        QCOMPARE(pasted(), LinkManager::keyAddCommand(den) + QLatin1Char('\n'));
        page->keySheet()->close();

        page->openShortSheet();
        page->shortSheet()->copyButton()->click();
        QCOMPARE(pasted(), page->shortSheet()->copiedText().value());
        page->shortSheet()->close();

        page->card(den.id)->copyButton()->click();
        QCOMPARE(pasted(), QStringLiteral("ssh qx-den"));
    }
};

QTEST_MAIN(DevicesCopyX11Test)
#include "DevicesCopyX11Test.moc"
